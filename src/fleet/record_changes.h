// What changed in a controller's records between two backups, in category
// names, card slot numbers and counts. It never holds a record's value:
// commit messages, hooks and summaries carry it where a card record or the
// PIN must not go.
#pragma once

#include "engine/categories.h"
#include "engine/record_compare.h"

#include <QList>
#include <QString>
#include <utility>

namespace kt::fleet {

struct RecordChanges {
    bool first = false;                                // no earlier backup to compare with
    int records = 0;                                   // records of the newer backup
    int cards = 0;                                     // card slots that hold a card in it
    QList<const engine::Category*> categories;         // that changed, in the table's order
    QList<int> cardsAdded, cardsRemoved, cardsChanged; // slot numbers, ascending

    bool any() const { return first || !categories.isEmpty(); }
};

// The changes from `before` to `after`, as readBackupRecords gives them;
// `first` when there is no `before` at all.
RecordChanges changesBetween(const QMap<QByteArray, QByteArray>& before,
                             const QMap<QByteArray, QByteArray>& after, bool first);

// Slot numbers joined by ", ", at most `shown` of them, then "and N more".
QString slotList(const QList<int>& numbers, int shown = 50);

// "UserCardDatabase, HolidayTable; cards added 3, 7; cards removed 12;
// cards changed 5; now 20 cards, 153 records", or "first version, 20
// cards, 153 records".
QString changeText(const RecordChanges& changes);
// The same after the controller's name: "north: ...".
QString describeChanges(const QString& controller, const RecordChanges& changes);

// The cards and records at the end of such a line; -1 when it has none.
std::pair<int, int> countsOfLine(const QString& line);

} // namespace kt::fleet
