// The rule that calls a complete backup suspicious: compared with the
// controller's last good backup, its user cards fell by more than MaxLoss
// percent, or a category it read came back empty where the last good one
// held records. A wiped controller answers every record empty, and its
// backup finishes like any other: this rule is what tells the two apart.
#pragma once

#include "engine/record_compare.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <map>

namespace kt::fleet {

// MaxLoss when neither [fleet] nor the controller's section gives one.
inline constexpr int kDefaultMaxLoss = 50;

// What a backup holds, as the rule counts it: by category (its Language.ini
// key) the records that hold a value, the cards for the user cards; and the
// categories its Save read (empty: every one).
struct HeldCounts {
    std::map<QByteArray, int> byCategory; // categories holding nothing are left out
    QList<QByteArray> read;

    int count(const QByteArray& category) const;
    int cards() const;
    bool reads(const QByteArray& category) const;
};

// The counts of records as readBackupRecords gives them, read as `scope`
// says (its card slots are not looked at: the records hold what was read).
HeldCounts heldCounts(const QMap<QByteArray, QByteArray>& records,
                      const engine::ReadScope& scope = {});

// The newest complete backup of a controller that was not suspicious, or
// that was accepted.
struct GoodBackup {
    QString file; // its main file; empty: none recorded
    QDateTime at;
    HeldCounts held;
};

struct Collapse {
    bool cardsFell = false;
    QStringList emptied; // the categories that came back empty, in the table's order

    bool suspicious() const { return cardsFell || !emptied.isEmpty(); }
};

// How a backup holding `now` compares with the last good one; none (a
// first backup) is never suspicious. The cards count only when `now` read
// them: a loss of more than `maxLoss` percent of the good backup's cards
// (1..100; at 100 no loss of cards alone is one). A category counts only
// when `now` read it.
Collapse collapseOf(const GoodBackup* good, const HeldCounts& now, int maxLoss);

} // namespace kt::fleet
