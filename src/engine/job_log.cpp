#include "job_log.h"

#include "backup_file.h"
#include "shell/text_format.h"
#include "shell/user_folders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <limits>

namespace kt::engine {

JobEntry entryOf(const JobRequest& request, JobOutcome outcome) {
    return {.start = localTimeStamp(),
            .direction = request.direction,
            .port = request.portName,
            .address = request.address,
            .file = request.file,
            .categories = request.categories,
            .cards = request.cardCount,
            .outcome = outcome};
}

QString JobLog::defaultPath() {
    const QString folder = shell::stateFolder();
    return folder + QStringLiteral("/jobs.log");
}

shell::Status JobLog::appendLine(const QJsonObject& entry) const {
    const auto cannot = [this](const QString& why) {
        return shell::Error{shell::ErrorCode::Unwritable, why, path_};
    };
    if (const shell::Status made = shell::makePrivateFolders(QFileInfo(path_).absolutePath());
        !made)
        return cannot(shell::fillIn(QStringLiteral("cannot keep the job log %1: %2"),
                                    {path_, made.error().message}));
    if (QFileInfo(path_).size() > kRotateBytes) {
        // Another job may rotate at the same moment: whichever rename comes
        // second finds nothing to move, and both go on with a new log.
        QFile::remove(path_ + QStringLiteral(".1"));
        QFile::rename(path_, path_ + QStringLiteral(".1"));
    }
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append, QFile::ReadOwner | QFile::WriteOwner))
        return cannot(
            shell::fillIn(QStringLiteral("cannot write %1: %2"), {path_, file.errorString()}));
    // One write of the whole line, so that jobs running side by side never
    // interleave their lines.
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    if (file.write(line) != line.size() || !file.flush())
        return cannot(
            shell::fillIn(QStringLiteral("cannot write %1: %2"), {path_, file.errorString()}));
    return shell::done();
}

shell::Status JobLog::append(const JobEntry& entry) const {
    static const char* directions[] = {"save", "load", "verify"};
    QJsonArray names;
    for (const Category* category : entry.categories)
        names.append(QString::fromLatin1(category->name));
    // A relative name means nothing once the folder it was given in is
    // forgotten.
    const QString file =
        entry.file.isEmpty() ? QString() : QFileInfo(entry.file).absoluteFilePath();
    QJsonObject line{
        {"start", QString::fromLatin1(entry.start)},
        {"end", QString::fromLatin1(entry.end.isEmpty() ? localTimeStamp() : entry.end)},
        {"direction", directions[int(entry.direction)]},
        {"port", entry.port},
        {"address", entry.address},
        {"file", file},
        {"categories", names},
        {"cards", entry.cards},
        {"records", entry.records},
        {"emptyCardSlots", entry.emptyCardSlots},
        {"failedTries", entry.failedTries},
        {"outcome", QString::fromLatin1(outcomeName(entry.outcome))}};
    if (!entry.error.isEmpty())
        line.insert("error", entry.error.left(kMaxErrorChars));
    if (entry.differences)
        line.insert("differences", *entry.differences);
    return appendLine(line);
}

shell::Status JobLog::appendEvent(const char* what, const QString& subject,
                                  const QString& outcome) const {
    return appendLine(QJsonObject{{"start", QString::fromLatin1(localTimeStamp())},
                                  {"direction", what},
                                  {"file", subject},
                                  {"outcome", outcome}});
}

QList<QJsonObject> JobLog::last(int count) const {
    QList<QJsonObject> entries;
    QFile file(path_);
    if (count <= 0 || !file.open(QIODevice::ReadOnly))
        return entries;
    // Blocks from the end until enough lines have been seen. A line longer
    // than any entry can be is no entry: its bytes are dropped as they come.
    constexpr qint64 kBlock = 64 * 1024;
    constexpr qsizetype kMaxLine = 1024 * 1024;
    qint64 end = file.size();
    QByteArray tail;       // the start of a line whose end was read before
    bool skipping = false; // the line being read is too long to be an entry
    while (end > 0 && entries.size() < count) {
        const qint64 begin = std::max<qint64>(0, end - kBlock);
        if (!file.seek(begin))
            break;
        const QByteArray block = file.read(end - begin) + tail;
        end = begin;
        qsizetype lineEnd = block.size();
        for (qsizetype i = block.size() - 1; i >= -1 && entries.size() < count; --i) {
            if (i >= 0 && block[i] != '\n')
                continue;
            if (i < 0 && end > 0)
                break; // the line begins in an earlier block
            if (!skipping) {
                const QJsonDocument document =
                    QJsonDocument::fromJson(block.mid(i + 1, lineEnd - (i + 1)));
                if (document.isObject())
                    entries.prepend(document.object());
            }
            skipping = false;
            lineEnd = std::max<qsizetype>(i, 0);
        }
        tail = block.left(lineEnd);
        if (tail.size() > kMaxLine) {
            tail.clear();
            skipping = true;
        }
    }
    // Lines are written as jobs end; jobs side by side end in another order
    // than they started in. A line without a start time stays where it is.
    const auto startOf = [](const QJsonObject& entry) {
        const QDateTime start = QDateTime::fromString(entry.value("start").toString(), Qt::ISODate);
        return start.isValid() ? start.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    };
    std::stable_sort(
        entries.begin(), entries.end(),
        [&](const QJsonObject& a, const QJsonObject& b) { return startOf(a) < startOf(b); });
    return entries;
}

} // namespace kt::engine
