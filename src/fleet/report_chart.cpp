#include "report_chart.h"

#include "shell/text_format.h"

#include <QStringList>
#include <algorithm>

namespace kt::fleet {

QString cardChart(const QList<CardPoint>& points, const QString& title) {
    if (points.size() < 2)
        return {};
    // The plot, and room for the counts at its left and the dates under it.
    constexpr int width = 320, height = 96, left = 48, right = 8, top = 8, bottom = 26;
    constexpr int plotWidth = width - left - right, plotHeight = height - top - bottom;
    const auto [low, high] = std::minmax_element(
        points.cbegin(), points.cend(),
        [](const CardPoint& a, const CardPoint& b) { return a.cards < b.cards; });
    const auto yOf = [&](int cards) {
        return high->cards == low->cards ? top + plotHeight / 2.0
                                         : top + plotHeight * double(high->cards - cards) /
                                                     double(high->cards - low->cards);
    };
    QStringList line, numbers;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const double x = left + plotWidth * double(i) / double(points.size() - 1);
        line.append(QString::number(x, 'f', 1) + u',' +
                    QString::number(yOf(points[i].cards), 'f', 1));
        numbers.append(QString::number(points[i].cards));
    }
    // A label at (x, y), anchored at its start, middle or end.
    const auto label = [](double x, double y, const char* anchor, const QString& text) {
        return QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\">%4</text>")
            .arg(QString::number(x, 'f', 1), QString::number(y, 'f', 1), QLatin1String(anchor),
                 text.toHtmlEscaped());
    };
    QString labels = label(left - 6, yOf(high->cards) + 4, "end", QString::number(high->cards));
    if (high->cards != low->cards)
        labels += label(left - 6, yOf(low->cards) + 4, "end", QString::number(low->cards));
    const QString date = QStringLiteral("yyyy-MM-dd");
    labels += label(left, height - 6, "start", points.first().when.toString(date)) +
              label(width - right, height - 6, "end", points.last().when.toString(date));
    const QString name =
        (title + QStringLiteral(": ") + numbers.join(QStringLiteral(", "))).toHtmlEscaped();
    // The axes: down the left, then along the bottom.
    const QString axes =
        QStringLiteral("M%1 %2V%3H%4").arg(left).arg(top).arg(top + plotHeight).arg(width - right);
    return shell::fillIn(
        QStringLiteral(
            "<figure class=\"chart\"><figcaption>%1</figcaption><svg width=\"%2\" height=\"%3\" "
            "viewBox=\"0 0 %2 %3\" role=\"img\" aria-label=\"%4\"><title>%4</title>"
            "<g font-size=\"11\" fill=\"#444\">%5</g><path d=\"%6\" fill=\"none\" "
            "stroke=\"#888\"/><polyline fill=\"none\" stroke=\"#1f5fa8\" stroke-width=\"2\" "
            "points=\"%7\"/></svg></figure>\n"),
        {title.toHtmlEscaped(), QString::number(width), QString::number(height), name, labels, axes,
         line.join(u' ')});
}

} // namespace kt::fleet
