// The backup file set: the main file (sections "HEAD" and "Data") and the
// card files that hold user cards from index 2000 on.
#pragma once

#include "shell/file_lock.h"

#include "shell/result.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>

namespace kt::engine {

inline constexpr char kHeadSection[] = "HEAD";
inline constexpr char kTitleKey[] = "Title";
inline constexpr char kTitle[] = "KT560AX";
inline constexpr char kDataSection[] = "Data";
inline constexpr int kCardRecordLength = 24;
// User cards 1 to kMaxCards; the main file holds cards below kCardsPerFile,
// each card file the next kCardsPerFile.
inline constexpr int kMaxCards = 9999;
inline constexpr int kCardsPerFile = 2000;

// The manifest of the last Save, in "HEAD" after the title. The Windows
// program reads only the title and ignores the rest; a file without them is
// an older backup.
struct Manifest {
    bool titled = false;          // Title=KT560AX: a backup file at all
    std::optional<bool> complete; // Complete: 0 from a Save's start, 1 once it finished
    QByteArray started;           // ISO 8601 local time with offset
    QByteArray finished;          // likewise
    QByteArray controller;        // address, two digits
    QList<QByteArray> categories; // Language.ini keys; empty: not said
    std::optional<int> cards;     // card count, when cards were saved
    std::optional<int> records;   // records stored
    QList<QByteArray> unsendable; // keys whose values a restore cannot send

    // The times as instants, invalid when missing or malformed.
    QDateTime startedAt() const;
    QDateTime finishedAt() const;
};

// The manifest of a backup's main file; all empty when it cannot be read.
Manifest readManifest(const QString& mainFile);

// The title and the manifest of a Save that starts now: Complete=0, its
// start, controller, categories and card count (none: no cards saved); the
// keys of the end of an earlier Save go. A missing file is made, for its
// owner only. An error when the file cannot take them.
shell::Status writeSaveStart(const QString& mainFile, const QByteArray& controller,
                             const QList<QByteArray>& categories, std::optional<int> cards);
// The end of a Save that finished: Finished, Records, the keys of values
// that hold a control character (Unsendable, when there are any), then
// Complete=1, in one atomic write, so that a backup killed before it stays
// marked as stopped.
shell::Status writeSaveEnd(const QString& mainFile, int records,
                           const QList<QByteArray>& unsendable = {});

// The manifest `from` (of a Save's own main file) put into the bytes of a
// main file, as that Save would have written it there: the title first,
// the end of an earlier Save gone. False when a value cannot stand there.
bool takeManifest(QByteArray& data, const Manifest& from);

// The file that holds user card `index`: the main file below kCardsPerFile,
// else the card file of its block (tags 2, 4, 6, 8), named by the tag in
// front of the main file's name, in the main file's directory:
// /backup/01.KT gives /backup/201.KT; a bare 01.KT gives 201.KT.
QString cardFile(const QString& mainFile, int index);

// The main file and every card file a set may have, card files in the order
// of their cards.
QStringList backupFileSet(const QString& mainFile);

// Whether the set can be used: the main file must be a readable regular
// file of a sane size unless `mayBeMissing`, and so must each card file that
// exists. The error names the first file that cannot be used.
shell::Status checkBackupFileSet(const QString& mainFile, bool mayBeMissing);

// The Data records of each file of a set (keys in upper case, the first of
// duplicates, values as stored), by file.
using SetRecords = std::map<QString, QMap<QByteArray, QByteArray>>;
SetRecords readSetRecords(const QString& mainFile);

// The hidden file whose advisory lock stands for a backup file set:
// /backup/01.KT gives /backup/.01.KT.lock. The files of the set are
// replaced on every write, so they cannot carry the lock themselves.
QString lockFileOf(const QString& mainFile);

// The hidden copy through which a file of a set is replaced, a name only
// this program makes: /backup/01.KT gives /backup/.01.KT.kt560ax-tmp.
QString copyFileOf(const QString& file);

// Replaces `file` of a set, held by this job's lock, with what `edit` makes
// of its bytes (a missing file reads as empty), through its copy; a new file
// is for its owner only. An error when it cannot be read or written, or
// Invalid when `edit` says false (then nothing is written).
shell::Status editBackupFile(const QString& file, const std::function<bool(QByteArray&)>& edit);

// An advisory lock on a backup file set for the length of a job: shared by
// readers (a restore, a verify, a comparison), exclusive for a Save. The
// system releases it when the process ends, however it ends. The lock file
// exists only while a job holds it (for its owner only, as the backup files
// are); once held, the copies a killed job left beside the set go, as no
// other job can be writing them.
class BackupLock {
  public:
    BackupLock() = default;
    BackupLock(const BackupLock&) = delete;
    BackupLock& operator=(const BackupLock&) = delete;

    // Held now (for a reader in a read-only folder there is nothing to hold).
    // Errors: InUse when another job holds the set; Unwritable when the lock
    // file cannot be made where a Save must write.
    shell::Status take(const QString& mainFile, bool exclusive);
    // Lets go; the lock file goes too when no other job holds it.
    void release();

  private:
    shell::FileLock lock_;
};

// Creates `file` with `contents`, readable and writable by its owner only,
// when it does not exist; an existing file is left as it is, mode included.
// Backup files hold every card number and the security PIN. The file
// appears whole or not at all.
shell::Status createPrivateFile(const QString& file, const QByteArray& contents = {});

// What a new backup file holds before its first record.
QByteArray newBackupContents();

// Creates a new, empty backup file (its title and Complete=0) that did not
// exist before, for its owner only; an existing file is left alone.
enum class NewFile { Created, Exists, Failed };
NewFile createNewBackupFile(const QString& file);

// The card record of a Save reply: leading blanks removed, then the first
// 24 characters as they are. Empty when fewer than 24 remain.
QByteArray cardRecordOfReply(const QByteArray& data);

// How a card record is stored: between double quotes when the INI reader
// would otherwise change it (a blank or tab at either end, or quotes
// around it), else as it is.
QByteArray storedCardValue(const QByteArray& record);

// The card record of a stored value: blanks at both ends removed, then one
// pair of enclosing double quotes.
QByteArray cardRecordOfStoredValue(const QByteArray& value);

// The current local time in ISO 8601 with its offset from UTC.
QByteArray localTimeStamp();
// The current local time, as localTimeStamp() gives it.
QDateTime wallClock();
// Where localTimeStamp() takes the time from: the system's clock when
// empty, as it is; a test sets its own and empties it again.
void setWallClock(std::function<QDateTime()> clock);

} // namespace kt::engine
