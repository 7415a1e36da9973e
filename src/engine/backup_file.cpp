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

namespace kt::engine {

namespace {

inline constexpr char kCompleteKey[] = "Complete";
inline constexpr char kStartedKey[] = "Started";
inline constexpr char kFinishedKey[] = "Finished";
inline constexpr char kControllerKey[] = "Controller";
inline constexpr char kCategoriesKey[] = "Categories";
inline constexpr char kCardsKey[] = "Cards";
inline constexpr char kRecordsKey[] = "Records";
inline constexpr char kUnsendableKey[] = "Unsendable";

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
        } else if (is(kUnsendableKey)) {
            for (const QByteArray& name : value.split(','))
                if (!shell::trimBlanks(name).isEmpty())
                    manifest.unsendable.append(shell::trimBlanks(name));
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
        head.remove(kUnsendableKey);
        data = head.data();
        return true;
    });
}

bool takeManifest(QByteArray& data, const Manifest& from) {
    shell::IniSectionEditor head(data, kHeadSection);
    if (!head.set(kTitleKey, kTitle) ||
        !head.set(kCompleteKey, from.complete.value_or(false) ? "1" : "0") ||
        !head.set(kStartedKey, from.started) || !head.set(kControllerKey, from.controller) ||
        !head.set(kCategoriesKey, from.categories.join(',')) ||
        (from.cards && !head.set(kCardsKey, QByteArray::number(*from.cards))))
        return false;
    if (!from.cards)
        head.remove(kCardsKey);
    head.remove(kFinishedKey);
    head.remove(kRecordsKey);
    head.remove(kUnsendableKey);
    if ((!from.finished.isEmpty() && !head.set(kFinishedKey, from.finished)) ||
        (from.records && !head.set(kRecordsKey, QByteArray::number(*from.records))) ||
        (!from.unsendable.isEmpty() && !head.set(kUnsendableKey, from.unsendable.join(','))))
        return false;
    data = head.data();
    return true;
}

shell::Status writeSaveEnd(const QString& mainFile, int records,
                           const QList<QByteArray>& unsendable) {
    // Complete=1 in the same atomic write as the rest: a backup killed
    // before it stays marked as stopped.
    return editBackupFile(mainFile, [&](QByteArray& data) {
        shell::IniSectionEditor head(data, kHeadSection);
        if (!head.set(kFinishedKey, localTimeStamp()) ||
            !head.set(kRecordsKey, QByteArray::number(records)) ||
            (!unsendable.isEmpty() && !head.set(kUnsendableKey, unsendable.join(','))) ||
            !head.set(kCompleteKey, "1"))
            return false;
        data = head.data();
        return true;
    });
}

QString cardFile(const QString& mainFile, int index) {
    if (index < kCardsPerFile)
        return mainFile;
    const int tag = index / kCardsPerFile * 2;
    // The tag goes before the name, after the folder as the system writes it.
    const QString name = QFileInfo(mainFile).fileName();
    return mainFile.left(mainFile.size() - name.size()) + QString::number(tag) + name;
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
    switch (lock_.take(lockFileOf(mainFile), exclusive ? shell::FileLock::Mode::Exclusive
                                                       : shell::FileLock::Mode::Shared)) {
    case shell::FileLock::Outcome::Held:
        for (const QString& file : backupFileSet(mainFile))
            QFile::remove(copyFileOf(file));
        return shell::done();
    case shell::FileLock::Outcome::Busy:
        return shell::Error{shell::ErrorCode::InUse,
                            QStringLiteral("%1 is in use by another job").arg(mainFile), mainFile};
    case shell::FileLock::Outcome::Unopenable:
        break;
    }
    // A reader of a read-only folder has nobody to keep out.
    if (!exclusive)
        return shell::done();
    return shell::Error{shell::ErrorCode::Unwritable,
                        QStringLiteral("%1 cannot be locked").arg(mainFile), mainFile};
}

void BackupLock::release() {
    lock_.release();
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

namespace {

std::function<QDateTime()>& wallClockFunction() {
    static std::function<QDateTime()> clock;
    return clock;
}

} // namespace

QDateTime wallClock() {
    return wallClockFunction() ? wallClockFunction()() : QDateTime::currentDateTime();
}

void setWallClock(std::function<QDateTime()> clock) {
    wallClockFunction() = std::move(clock);
}

QByteArray localTimeStamp() {
    const QDateTime now = wallClock();
    const int offset = now.offsetFromUtc() / 60; // minutes east of UTC
    const int size = std::abs(offset);
    return now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
           (offset < 0 ? '-' : '+') + shell::formatDigits(size / 60, 2) + ':' +
           shell::formatDigits(size % 60, 2);
}

} // namespace kt::engine
