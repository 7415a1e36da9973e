#include "backup_file.h"

#include "shell/text_format.h"

#include <QDir>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

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

QStringList backupFileSet(const QString& mainFile) {
    QStringList files = {mainFile};
    for (int index = 2000; index <= 9999; index += 2000)
        files.append(cardFile(mainFile, index));
    return files;
}

FileSetProblem checkBackupFileSet(const QString& mainFile, bool mayBeMissing) {
    const QStringList files = backupFileSet(mainFile);
    for (qsizetype i = 0; i < files.size(); ++i) {
        const shell::FileProblem problem = shell::checkRegularFile(files[i]);
        const bool missingIsFine = i > 0 || mayBeMissing;
        if (problem != shell::FileProblem::None &&
            !(problem == shell::FileProblem::Missing && missingIsFine))
            return {problem, files[i]};
    }
    return {};
}

QString lockFileOf(const QString& mainFile) {
    const QFileInfo info(mainFile);
    return info.dir().filePath(u'.' + info.fileName() + QStringLiteral(".lock"));
}

BackupLock::Result BackupLock::take(const QString& mainFile, bool exclusive) {
    release();
#ifdef Q_OS_UNIX
    // Empty and readable by all: another user who may write the folder must
    // be able to take the lock too.
    const QByteArray path = QFile::encodeName(lockFileOf(mainFile));
    int fd =
        ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) // a reader of a read-only folder has nobody to keep out
        return exclusive ? Result::Failed : Result::Taken;
    while (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? Result::InUse : exclusive ? Result::Failed : Result::Taken;
    }
    fd_ = fd;
#else
    Q_UNUSED(mainFile);
    Q_UNUSED(exclusive);
#endif
    return Result::Taken;
}

void BackupLock::release() {
#ifdef Q_OS_UNIX
    if (fd_ >= 0)
        ::close(fd_);
#endif
    fd_ = -1;
}

bool createPrivateFile(const QString& file, const QByteArray& contents) {
    if (QFileInfo::exists(file))
        return true;
    QSaveFile out(file);
    return out.open(QIODevice::WriteOnly) &&
           out.setPermissions(QFile::ReadOwner | QFile::WriteOwner) &&
           out.write(contents) == contents.size() && out.commit();
}

QByteArray newBackupContents() {
    return QByteArray("[HEAD]\r\nTitle=") + kTitle + "\r\nComplete=0\r\n";
}

NewFile createNewBackupFile(const QString& file) {
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner))
        return QFileInfo::exists(file) || QFileInfo(file).isSymLink() ? NewFile::Exists
                                                                      : NewFile::Failed;
    const QByteArray contents = newBackupContents();
    return out.write(contents) == contents.size() && out.flush() ? NewFile::Created
                                                                 : NewFile::Failed;
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
