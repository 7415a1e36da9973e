#include "backup_file.h"

#include "shell/text_format.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdlib>

namespace kt::engine {

QString cardFile(const QString& mainFile, int index) {
    if (index < 2000)
        return mainFile;
    const int tag = index / 2000 * 2;
    qsizetype slash = mainFile.lastIndexOf(u'/');
#ifdef Q_OS_WIN
    slash = std::max({slash, mainFile.lastIndexOf(u'\\'), mainFile.lastIndexOf(u':')});
#endif
    return mainFile.left(slash + 1) + QString::number(tag) + mainFile.mid(slash + 1);
}

bool createPrivateFile(const QString& file, const QByteArray& contents) {
    if (QFileInfo::exists(file))
        return true;
    QSaveFile out(file);
    return out.open(QIODevice::WriteOnly) &&
           out.setPermissions(QFile::ReadOwner | QFile::WriteOwner) &&
           out.write(contents) == contents.size() && out.commit();
}

QByteArray cardRecordOfReply(const QByteArray& data) {
    qsizetype begin = 0;
    while (begin < data.size() && data[begin] == ' ')
        ++begin;
    if (data.size() - begin < kCardRecordLength)
        return {};
    return data.mid(begin, kCardRecordLength);
}

QByteArray storedCardValue(const QByteArray& record) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const bool quoted = record.size() >= 2 && record.front() == '"' && record.back() == '"';
    if (record.isEmpty() || blank(record.front()) || blank(record.back()) || quoted)
        return '"' + record + '"';
    return record;
}

QByteArray cardRecordOfStoredValue(const QByteArray& value) {
    const QByteArray trimmed = shell::trimBlanks(value);
    if (trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"')
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

QByteArray localTimeStamp() {
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc() / 60; // minutes east of UTC
    const int size = std::abs(offset);
    return now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
           (offset < 0 ? '-' : '+') + shell::formatDigits(size / 60, 2) + ':' +
           shell::formatDigits(size % 60, 2);
}

} // namespace kt::engine
