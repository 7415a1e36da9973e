#include "backup_file.h"

#include "shell/ini_file.h"
#include "shell/regular_file.h"
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
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kt::engine {

namespace {

inline constexpr char kCompleteKey[] = "Complete";
inline constexpr char kStartedKey[] = "Started";
inline constexpr char kFinishedKey[] = "Finished";
inline constexpr char kControllerKey[] = "Controller";
inline constexpr char kCategoriesKey[] = "Categories";
inline constexpr char kCardsKey[] = "Cards";
inline constexpr char kRecordsKey[] = "Records";

std::optional<int> numberOf(const QByteArray& value) {
    if (value.isEmpty())
        return std::nullopt;
    return shell::roundToInt(shell::leadingNumber(value));
}

QDateTime instant(const QByteArray& text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

} // namespace

QDateTime Manifest::startedAt() const {
    return instant(started);
}

QDateTime Manifest::finishedAt() const {
    return instant(finished);
}

Manifest readManifest(const QString& mainFile) {
    Manifest manifest;
    for (const auto& [key, raw] : shell::ReadIniSection(mainFile, kHeadSection)) {
        const QByteArray value = shell::trimBlanks(raw);
        const auto is = [&](const char* name) { return qstricmp(key, name) == 0; };
        if (is(kTitleKey)) {
            manifest.titled = value == kTitle;
        } else if (is(kCompleteKey)) {
            if (value == "0" || value == "1")
                manifest.complete = value == "1";
        } else if (is(kStartedKey)) {
            manifest.started = value;
        } else if (is(kFinishedKey)) {
            manifest.finished = value;
        } else if (is(kControllerKey)) {
            manifest.controller = value;
        } else if (is(kCategoriesKey)) {
            for (const QByteArray& name : value.split(','))
                if (!shell::trimBlanks(name).isEmpty())
                    manifest.categories.append(shell::trimBlanks(name));
        } else if (is(kCardsKey)) {
            manifest.cards = numberOf(value);
        } else if (is(kRecordsKey)) {
            manifest.records = numberOf(value);
        }
    }
    return manifest;
}

shell::Status writeSaveStart(const QString& mainFile, const QByteArray& controller,
                             const QList<QByteArray>& categories, std::optional<int> cards) {
    // One write for all of them: a file of any size is read and rewritten
    // once.
    return editBackupFile(mainFile, [&](QByteArray& data) {
        shell::IniSectionEditor head(data, kHeadSection);
        // The title first, as readers of the format expect it.
        if (!head.set(kTitleKey, kTitle) || !head.set(kCompleteKey, "0") ||
            !head.set(kStartedKey, localTimeStamp()) || !head.set(kControllerKey, controller) ||
            !head.set(kCategoriesKey, categories.join(',')) ||
            (cards && !head.set(kCardsKey, QByteArray::number(*cards))))
            return false;
        if (!cards)
            head.remove(kCardsKey);
        head.remove(kFinishedKey);
        head.remove(kRecordsKey);
        data = head.data();
        return true;
    });
}

shell::Status writeSaveEnd(const QString& mainFile, int records) {
    // Complete=1 in the same atomic write as the rest: a backup killed
    // before it stays marked as stopped.
    return editBackupFile(mainFile, [&](QByteArray& data) {
        shell::IniSectionEditor head(data, kHeadSection);
        if (!head.set(kFinishedKey, localTimeStamp()) ||
            !head.set(kRecordsKey, QByteArray::number(records)) || !head.set(kCompleteKey, "1"))
            return false;
        data = head.data();
        return true;
    });
}

QString cardFile(const QString& mainFile, int index) {
    if (index < kCardsPerFile)
        return mainFile;
    const int tag = index / kCardsPerFile * 2;
    qsizetype slash = mainFile.lastIndexOf(u'/');
#ifdef Q_OS_WIN
    slash = std::max({slash, mainFile.lastIndexOf(u'\\'), mainFile.lastIndexOf(u':')});
#endif
    return mainFile.left(slash + 1) + QString::number(tag) + mainFile.mid(slash + 1);
}

QStringList backupFileSet(const QString& mainFile) {
    QStringList files = {mainFile};
    for (int index = kCardsPerFile; index <= kMaxCards; index += kCardsPerFile)
        files.append(cardFile(mainFile, index));
    return files;
}

shell::Status checkBackupFileSet(const QString& mainFile, bool mayBeMissing) {
    const QStringList files = backupFileSet(mainFile);
    for (qsizetype i = 0; i < files.size(); ++i) {
        const shell::Result<qint64> check = shell::checkRegularFile(files[i]);
        const bool missingIsFine = i > 0 || mayBeMissing;
        if (!check && !(check.error().code == shell::ErrorCode::NotFound && missingIsFine))
            return check.error();
    }
    return shell::done();
}

namespace {

// A hidden file beside `file`: /backup/01.KT and ".lock" give
// /backup/.01.KT.lock.
QString hiddenFileOf(const QString& file, const QString& suffix) {
    const QFileInfo info(file);
    return info.dir().filePath(u'.' + info.fileName() + suffix);
}

#ifdef Q_OS_UNIX
// Whether `path` still names the file open as `fd`.
bool namesOpenFile(const QByteArray& path, int fd) {
    struct stat held = {};
    struct stat named = {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.constData(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}
#endif

} // namespace

QString lockFileOf(const QString& mainFile) {
    return hiddenFileOf(mainFile, QStringLiteral(".lock"));
}

SetRecords readSetRecords(const QString& mainFile) {
    SetRecords set;
    for (const QString& file : backupFileSet(mainFile)) {
        QMap<QByteArray, QByteArray>& values = set[file];
        for (const auto& [name, value] : shell::ReadIniSection(file, kDataSection))
            if (const QByteArray key = name.toUpper(); !values.contains(key))
                values.insert(key, value); // the first of duplicates, as a reader takes it
    }
    return set;
}

QString copyFileOf(const QString& file) {
    return shell::hiddenCopyOf(file);
}

shell::Status editBackupFile(const QString& file, const std::function<bool(QByteArray&)>& edit) {
    const shell::Result<QByteArray> read = shell::readRegularFile(file);
    if (!read && read.error().code != shell::ErrorCode::NotFound)
        return read.error();
    QByteArray data = read.valueOr({});
    if (!edit(data))
        return shell::Error{shell::ErrorCode::Invalid,
                            file + QStringLiteral(": a value cannot stand in the file"), file};
    return shell::replaceFileThrough(file, copyFileOf(file), data);
}

shell::Status BackupLock::take(const QString& mainFile, bool exclusive) {
    release();
    const shell::Error cannotMake{shell::ErrorCode::Unwritable,
                                  QStringLiteral("%1 cannot be locked").arg(mainFile), mainFile};
    const shell::Error inUse{shell::ErrorCode::InUse,
                             QStringLiteral("%1 is in use by another job").arg(mainFile), mainFile};
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(lockFileOf(mainFile));
    // The last job on a set removes the lock file while it holds it, so a
    // lock is held only once the name still leads to the file locked;
    // otherwise the file was removed meanwhile and the lock starts again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                        0600);
        if (fd < 0)
            fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) // a reader of a read-only folder has nobody to keep out
            return exclusive ? shell::Status(cannotMake) : shell::done();
        int locked;
        while ((locked = ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB)) != 0 &&
               errno == EINTR) {
        }
        const bool busy = locked != 0 && errno == EWOULDBLOCK;
        const bool named = namesOpenFile(path, fd);
        if (locked == 0 && named) {
            fd_ = fd;
            lockFile_ = path;
            for (const QString& file : backupFileSet(mainFile))
                QFile::remove(copyFileOf(file));
            return shell::done();
        }
        ::close(fd);
        if (busy && named)
            return shell::Status(inUse);
        if (!busy && locked != 0)
            return exclusive ? shell::Status(cannotMake) : shell::done();
    }
    return shell::Status(inUse);
#else
    Q_UNUSED(mainFile);
    Q_UNUSED(exclusive);
    Q_UNUSED(cannotMake);
    Q_UNUSED(inUse);
    return shell::done();
#endif
}

void BackupLock::release() {
#ifdef Q_OS_UNIX
    // The lock file goes only while this job holds it alone: a job that
    // opened it meanwhile finds the name gone once it has the lock, and
    // starts again.
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0 && namesOpenFile(lockFile_, fd_))
        ::unlink(lockFile_.constData());
    if (fd_ >= 0)
        ::close(fd_);
#endif
    fd_ = -1;
    lockFile_.clear();
}

shell::Status createPrivateFile(const QString& file, const QByteArray& contents) {
    if (QFileInfo::exists(file))
        return shell::done();
    QSaveFile out(file);
    if (out.open(QIODevice::WriteOnly) &&
        out.setPermissions(QFile::ReadOwner | QFile::WriteOwner) &&
        out.write(contents) == contents.size() && out.commit())
        return shell::done();
    out.cancelWriting();
    return shell::Error{shell::ErrorCode::Unwritable,
                        file + QStringLiteral(": ") + out.errorString(), file};
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
