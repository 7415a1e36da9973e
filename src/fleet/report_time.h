// Times as the report page shows them: with the zone they were taken in,
// so that a page read in another zone, or across a change of daylight
// saving time, still tells when.
#pragma once

#include <QDateTime>
#include <QString>

namespace kt::fleet {

// The zone of a time as its offset from UTC: "UTC+08:00", "UTC-03:30",
// "UTC".
QString zoneText(const QDateTime& time);

// "2026-12-08 02:30 UTC+08:00"; "-" for no time.
QString shownTime(const QDateTime& time);

// The same in a <time> element that carries the ISO time, its date and
// its hour each in a span of its own.
QString timeHtml(const QDateTime& time);

} // namespace kt::fleet
