#include "report_time.h"

#include "fleet_state.h"

namespace kt::fleet {

QString zoneText(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    if (offset == 0)
        return QStringLiteral("UTC");
    const int minutes = qAbs(offset) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(QLatin1Char(offset < 0 ? '-' : '+'))
        .arg(minutes / 60, 2, 10, QChar(u'0'))
        .arg(minutes % 60, 2, 10, QChar(u'0'));
}

QString shownTime(const QDateTime& time) {
    if (!time.isValid())
        return QStringLiteral("-");
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm ")) + zoneText(time);
}

QString timeHtml(const QDateTime& time) {
    if (!time.isValid())
        return QStringLiteral("-");
    // The page's style keeps each part on one line: a line breaks only
    // between the date and the hour.
    return QStringLiteral("<time datetime=\"%1\"><span>%2</span> <span>%3 %4</span></time>")
        .arg(isoText(time), time.toString(QStringLiteral("yyyy-MM-dd")),
             time.toString(QStringLiteral("HH:mm")), zoneText(time));
}

} // namespace kt::fleet
