// A controller's cards over its versions in the history, as a small line
// chart in inline SVG that says what it shows.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace kt::fleet {

// A version's time and the cards it held.
struct CardPoint {
    QDateTime when;
    int cards = 0;
};

// The chart of `points`, oldest first, under the caption `title`: its
// highest and lowest counts beside its left axis, the dates of its first
// and last version under it, and every count in its name for readers that
// cannot see it. Empty for fewer than two points.
QString cardChart(const QList<CardPoint>& points, const QString& title);

} // namespace kt::fleet
