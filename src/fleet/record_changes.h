// What changed in a controller's records between two backups, in category
// names, card slot numbers and counts. It never holds a record's value:
// commit messages, hooks and summaries carry it where a card record or the
// PIN must not go.
#pragma once

#include "engine/categories.h"
#include "engine/record_compare.h"

#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace kt::fleet {

struct RecordChanges {
    bool first = false;                        // no earlier backup to compare with
    bool uncompared = false;                   // an earlier one, but nothing to compare it by
    int records = 0;                           // records of the newer backup
    int cards = 0;                             // card slots that hold a card in it
    QList<const engine::Category*> categories; // that changed, in the table's order
    QList<int> cardsAdded, cardsRemoved, cardsChanged; // slot numbers, ascending
    // What only one of the two Saves read, not compared ("cards 301-500").
    QString notReadByNewer, notReadByOlder;

    bool any() const { return first || uncompared || !categories.isEmpty(); }
};

// The changes from `before` to `after`, as readBackupRecords gives them,
// where both Saves read (as their manifests say); `first` when there is no
// `before` at all.
RecordChanges changesBetween(const QMap<QByteArray, QByteArray>& before,
                             const QMap<QByteArray, QByteArray>& after, bool first,
                             const engine::ReadScope& beforeRead = {},
                             const engine::ReadScope& afterRead = {});

// The same where the older version is known only by its keyed digests
// (digestsOf): `beforeDigests` against `afterDigests`, the digests of
// `after`. The counts come from `after`.
RecordChanges changesFromDigests(const QMap<QByteArray, QByteArray>& beforeDigests,
                                 const engine::ReadScope& beforeRead,
                                 const QMap<QByteArray, QByteArray>& afterDigests,
                                 const QMap<QByteArray, QByteArray>& after,
                                 const engine::ReadScope& afterRead);

// The changes of `after` against an older version that exists but could
// not be compared: counts only, and said so.
RecordChanges uncomparedChanges(const QMap<QByteArray, QByteArray>& after);

// Slot numbers joined by ", ", at most `shown` of them, then "and N more".
QString slotList(const QList<int>& numbers, int shown = 50);

// "UserCardDatabase, HolidayTable; cards added 3, 7; cards removed 12;
// cards changed 5; not read by the newer backup: cards 301-500; now 20
// cards, 153 records", or "first version, 20 cards, 153 records", or
// kUncompared, "; now 20 cards, 153 records".
QString changeText(const RecordChanges& changes);
inline constexpr char kUncompared[] = "could not compare with the last version";
// The same after the controller's name: "north: ...".
QString describeChanges(const QString& controller, const RecordChanges& changes);

// The start of a commit message's line of a controller whose backup is
// suspicious: "suspicious: north: UserCardDatabase; cards removed ...".
inline constexpr char kSuspiciousMark[] = "suspicious: ";

// The trailer of a commit that carries a controller's counts, so that they
// are read back as data ("Kt560ax-Counts: north 20 153"), and its reading:
// the section, its cards and records; none when the line is no such
// trailer.
QString countsTrailer(const QString& controller, const RecordChanges& changes);
struct Counts {
    QString section;
    int cards = 0;
    int records = 0;
};
std::optional<Counts> countsOfTrailer(const QString& line);

} // namespace kt::fleet
