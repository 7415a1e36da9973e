// What an apply of a list to a controller writes: the records of the chosen
// categories and card slots where the list holds a value the controller
// does not, and what it leaves as it is (a record the controller holds and
// the list does not). Values never leave these structures in a summary.
#pragma once

#include "engine/record_compare.h"
#include "shell/result.h"

#include <QList>
#include <QMap>
#include <QString>

namespace kt::fleet {

struct ApplyPlan {
    // Added or changed in the controller's eyes: `before` is the
    // controller's value (empty: none), `after` the list's.
    QList<engine::RecordDifference> writes;
    // Held by the controller, not by the list: never written.
    QList<engine::RecordDifference> left;

    bool any() const { return !writes.isEmpty(); }
    // The card slots of the writes, and of the records left, ascending.
    QList<int> writtenCards() const;
    QList<int> leftCards() const;
    // The card slots of the writes that find no card in the controller.
    QList<int> cardsIntoEmpty() const;
    // The categories of the writes, in the table's order.
    QList<const engine::Category*> writtenCategories() const;
    // The highest card slot written, 0 when no card is.
    int highestWrittenCard() const;
};

// The records of `controller` and `list` (as readBackupRecords gives them)
// compared within `categories` and card slots 1..`cards`.
ApplyPlan planApply(const QMap<QByteArray, QByteArray>& controller,
                    const QMap<QByteArray, QByteArray>& list,
                    const QList<const engine::Category*>& categories, int cards);

// The categories a list holds: those its manifest names, else those of its
// records, in the table's order.
QList<const engine::Category*> listCategories(const engine::Manifest& manifest,
                                              const QMap<QByteArray, QByteArray>& records);

// The list's values of the plan's writes, by key.
QMap<QByteArray, QByteArray> writtenValues(const ApplyPlan& plan);

// Writes `records` (as readBackupRecords gives them) as a new, complete
// backup set `mainFile` for its owner only, whose manifest names
// `categories` and, when it is above 0, `cards`.
shell::Status writeRecordSet(const QString& mainFile, const QMap<QByteArray, QByteArray>& records,
                             const QByteArray& controller,
                             const QList<const engine::Category*>& categories, int cards);

} // namespace kt::fleet
