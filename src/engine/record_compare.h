// Records compared as a Save stores them: the records of a backup file set,
// the category a key belongs to, and the differences between two sets of
// records or between a backup and a controller.
#pragma once

#include "backup_file.h"
#include "categories.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <optional>

namespace kt::engine {

// Every record of a backup file set (the main file and its card files),
// keys in upper case. A value is trimmed; a card is its 24 characters, and
// a card value that a restore would not send counts as no card at all.
QMap<QByteArray, QByteArray> readBackupRecords(const QString& mainFile);
// The same of records read already (with a journal applied, for one).
QMap<QByteArray, QByteArray> backupRecordsOf(const SetRecords& set, const QString& mainFile);

// The card slots that hold a card in `records` (as readBackupRecords gives
// them), ascending.
QList<int> cardSlots(const QMap<QByteArray, QByteArray>& records);

// How many card slots a restore of the backup covers by default: the card
// count of its manifest when that Save finished, else the highest slot its
// files hold. 0 when the backup says nothing of cards.
int backupCardCount(const QString& mainFile);

// The category of a record key, or nullptr for a key of none.
const Category* categoryOfKey(const QByteArray& key);

struct RecordDifference {
    enum class Kind { Added, Removed, Changed };
    Kind kind = Kind::Changed;
    QByteArray key;
    QByteArray before; // in the older backup, or in the backup file
    QByteArray after;  // in the newer backup, or in the controller
};

// The records that differ between two sets, in the categories' order, then
// by key. A record missing on one side and empty on the other is equal.
QList<RecordDifference> compareRecords(const QMap<QByteArray, QByteArray>& before,
                                       const QMap<QByteArray, QByteArray>& after);

// What a Save read into a backup, by its manifest: its categories and its
// card slots. Other records in its files came from an earlier Save (a Save
// keeps the categories it does not read). A backup that does not say is
// taken to have read every record it holds.
struct ReadScope {
    QList<QByteArray> categories; // Language.ini keys; empty: every category
    std::optional<int> cards;     // slots 1..cards; none: every slot

    bool covers(const QByteArray& key) const;
};
ReadScope readScopeOf(const Manifest& manifest);

// Two backups compared only where both read: a record that one of them
// did not read is no difference but is listed apart, with its kind as the
// comparison would have had it.
struct ScopedComparison {
    QList<RecordDifference> differences;
    QList<RecordDifference> notReadByOlder;
    QList<RecordDifference> notReadByNewer;
};
ScopedComparison compareWithin(const QMap<QByteArray, QByteArray>& older,
                               const ReadScope& olderRead,
                               const QMap<QByteArray, QByteArray>& newer,
                               const ReadScope& newerRead);

// "cards 301-500; HolidayTable": the keys of records by category, card
// slots as ranges, never a value.
QString unreadText(const QList<RecordDifference>& unread);

// How a list names a category, such as by its caption in the user's
// language; without it, by its Language.ini key.
using CategoryNames = std::function<QString(const Category&)>;

// A readable list grouped by category, with a count for each: for a verify
// ("file" and "controller") or a diff ("old" and "new").
QString describeDifferences(const QList<RecordDifference>& differences, const QString& beforeName,
                            const QString& afterName, const CategoryNames& names = {});

// What a verify found, for its report beside the backup.
struct VerifyReport {
    QString file;          // the backup
    QByteArray controller; // address, two digits
    QString port;
    QByteArray started; // ISO 8601 local time with offset
    int compared = 0;
    QList<RecordDifference> differences;
    CategoryNames names{};
};

// Writes the report: a header with the counts, then every difference. It
// holds card numbers: a new report is readable by its owner only.
shell::Status writeVerifyReport(const QString& reportFile, const VerifyReport& report);

} // namespace kt::engine
