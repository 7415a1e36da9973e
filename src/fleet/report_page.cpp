#include "report_page.h"

#include "record_changes.h"

#include <QDir>
#include <QFileInfo>

namespace kt::fleet {

ReportState reportState(const ControllerStatus& status) {
    if (!status.lastOutcome.isEmpty() && status.lastOutcome != QLatin1String("finished"))
        return ReportState::Failing;
    return status.stale ? ReportState::Stale : ReportState::Fine;
}

namespace {

QString folderOf(const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? folder : canonical;
}

// Card counts of a controller's finished backups that read cards, from the
// job log: the slots read less the empty ones.
QList<int> cardsFromLog(const FleetController& controller, const QList<QJsonObject>& log) {
    const QString home = folderOf(QDir(controller.backupFolder()).filePath(QStringLiteral("x")));
    QList<int> cards;
    for (const QJsonObject& entry : log) {
        if (entry.value("direction").toString() != QLatin1String("save") ||
            entry.value("outcome").toString() != QLatin1String("finished") ||
            !entry.value("categories")
                 .toVariant()
                 .toStringList()
                 .contains(QStringLiteral("cards")) ||
            folderOf(entry.value("file").toString()) != home)
            continue;
        cards.append(entry.value("cards").toInt() - entry.value("emptyCardSlots").toInt());
    }
    return cards.mid(qMax<qsizetype>(0, cards.size() - kReportVersions));
}

} // namespace

QList<ReportRow> reportRows(const Fleet& fleet, const QList<QJsonObject>& log,
                            const History* history, const QDateTime& now) {
    QList<ReportRow> rows;
    const QList<ControllerStatus> states = fleetStatus(fleet, log, now);
    for (qsizetype i = 0; i < fleet.controllers.size(); ++i) {
        ReportRow row{states[i], {}, {}};
        if (history) {
            const QList<HistoryVersion> versions = history->versions(fleet.controllers[i].name);
            for (qsizetype v = qMax<qsizetype>(0, versions.size() - kReportVersions);
                 v < versions.size(); ++v)
                if (const int cards = countsOfLine(versions[v].changes).first; cards >= 0)
                    row.cards.append(cards);
            for (qsizetype v = versions.size() - 1; v >= 0 && row.changes.size() < kReportChanges;
                 --v)
                row.changes.append(versions[v].when.toString(QStringLiteral("yyyy-MM-dd HH:mm")) +
                                   QStringLiteral(": ") + versions[v].changes);
        } else {
            row.cards = cardsFromLog(fleet.controllers[i], log);
        }
        rows.append(row);
    }
    return rows;
}

namespace {

constexpr char kStyle[] = R"css(
:root { color-scheme: light; font-family: system-ui, -apple-system, "Segoe UI", sans-serif; }
body { margin: 0 auto; max-width: 72rem; padding: 1rem; color: #1a1a1a; background: #fff; }
h1 { font-size: 1.5rem; margin: 0 0 .25rem; }
.made { color: #555; margin: 0 0 1rem; }
.summary { display: flex; flex-wrap: wrap; gap: .5rem; padding: 0; list-style: none; }
.summary li { padding: .4rem .8rem; border-radius: .4rem; font-weight: 600; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; vertical-align: top; padding: .45rem .5rem; border-bottom: 1px solid #ddd; }
th { background: #f3f3f3; font-size: .9rem; }
.state { display: inline-block; padding: .15rem .5rem; border-radius: .3rem; font-weight: 600;
         border: 1px solid currentColor; white-space: nowrap; }
.fine { background: #e3f4e6; color: #145a22; }
.stale { background: #fff2cc; color: #6b4a00; }
.failing { background: #fbe0e0; color: #8a1111; }
.num { text-align: right; font-variant-numeric: tabular-nums; }
.muted { color: #666; }
ul.changes { margin: 0; padding-left: 1rem; font-size: .9rem; }
svg { display: block; }
td strong { white-space: nowrap; }
@media (max-width: 700px) {
  table, thead, tbody, tr, td { display: block; }
  thead { display: none; }
  tr { border: 1px solid #ccc; border-radius: .4rem; margin-bottom: .75rem; padding: .25rem; }
  td { border: 0; padding: .25rem .5rem; }
  td::before { content: attr(data-label); display: block; font-size: .8rem; color: #555; }
  .num { text-align: left; }
}
@media print {
  body { max-width: none; }
  .state, .summary li { background: none !important; }
  tr { break-inside: avoid; }
}
)css";

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

// A line of the card counts, oldest at the left, with the numbers in its
// title for readers that cannot see it.
QString cardLine(const QList<int>& cards, const QString& label) {
    if (cards.isEmpty())
        return QStringLiteral("<span class=\"muted\">-</span>");
    const int width = 120, height = 32, pad = 3;
    int low = cards.first(), high = cards.first();
    for (const int c : cards) {
        low = qMin(low, c);
        high = qMax(high, c);
    }
    QStringList points;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const double x = cards.size() == 1
                             ? width / 2.0
                             : pad + (width - 2 * pad) * double(i) / (cards.size() - 1);
        const double y =
            high == low ? height / 2.0
                        : height - pad - (height - 2 * pad) * double(cards[i] - low) / (high - low);
        points.append(QStringLiteral("%1,%2").arg(x, 0, 'f', 1).arg(y, 0, 'f', 1));
    }
    QStringList numbers;
    for (const int c : cards)
        numbers.append(QString::number(c));
    const QString title =
        escaped(label + QStringLiteral(": ") + numbers.join(QStringLiteral(", ")));
    return QStringLiteral("<svg width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\" "
                          "aria-label=\"%3\"><title>%3</title><polyline fill=\"none\" "
                          "stroke=\"#1f5fa8\" stroke-width=\"2\" points=\"%4\"/>"
                          "<circle cx=\"%7\" cy=\"%8\" r=\"3\" fill=\"#1f5fa8\"/></svg>"
                          "<span class=\"muted\">%5 &#8594; %6</span>")
        .arg(width)
        .arg(height)
        .arg(title, points.join(u' '))
        .arg(cards.first())
        .arg(cards.last())
        .arg(points.last().section(u',', 0, 0), points.last().section(u',', 1, 1));
}

} // namespace

QByteArray reportPage(const QList<ReportRow>& rows, const std::function<QString(const char*)>& text,
                      const QString& language, const QDateTime& made) {
    int counts[3] = {};
    for (const ReportRow& row : rows)
        ++counts[int(reportState(row.status))];
    const char* classes[] = {"fine", "stale", "failing"};
    const char* marks[] = {"&#10003;", "&#9888;", "&#10007;"}; // check, warning, cross
    const QString words[] = {text("StateFine"), text("StateStale"), text("StateFailing")};
    const auto td = [&](const char* key, const QString& html, const char* cls = nullptr) {
        return QStringLiteral("<td data-label=\"%1\"%2>%3</td>")
            .arg(escaped(text(key)),
                 cls ? QStringLiteral(" class=\"%1\"").arg(QLatin1String(cls)) : QString(), html);
    };
    QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\">\n<head>\n<meta "
                       "charset=\"utf-8\">\n<meta name=\"viewport\" "
                       "content=\"width=device-width, initial-scale=1\">\n"
                       "<title>%2</title>\n<style>%3</style>\n</head>\n<body>\n")
            .arg(escaped(language), escaped(text("ReportTitle")), QString::fromLatin1(kStyle));
    html += QStringLiteral("<h1>%1</h1>\n<p class=\"made\">%2</p>\n<ul class=\"summary\">")
                .arg(escaped(text("ReportTitle")),
                     escaped(text("ReportMade")
                                 .replace(QStringLiteral("%1"),
                                          made.toString(QStringLiteral("yyyy-MM-dd HH:mm")))));
    for (int s = 0; s < 3; ++s)
        html += QStringLiteral("<li class=\"%1\">%2 %3 %4</li>")
                    .arg(QLatin1String(classes[s]), QLatin1String(marks[s]))
                    .arg(counts[s])
                    .arg(escaped(words[s]));
    html += QStringLiteral("</ul>\n<table>\n<thead><tr>");
    for (const char* key : {"ReportController", "ReportState", "ReportLastBackup", "ReportOutcome",
                            "ReportCards", "ReportRecords", "ReportTrend", "ReportChanges"})
        html += QStringLiteral("<th scope=\"col\">%1</th>").arg(escaped(text(key)));
    html += QStringLiteral("</tr></thead>\n<tbody>\n");
    for (const ReportRow& row : rows) {
        const ControllerStatus& s = row.status;
        const int state = int(reportState(s));
        const bool none = s.lastComplete.isEmpty();
        QString last =
            none ? escaped(text("ReportNone"))
                 : escaped(s.lastCompleteAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"))) +
                       QStringLiteral("<br><span class=\"muted\">") +
                       escaped(
                           text("ReportAgo").replace(QStringLiteral("%1"), ageText(s.ageSeconds))) +
                       QStringLiteral("</span>");
        QString outcome = escaped(s.lastOutcome.isEmpty() ? QStringLiteral("-") : s.lastOutcome);
        if (s.failuresSinceSuccess > 0)
            outcome += QStringLiteral("<br><span class=\"muted\">%1</span>")
                           .arg(escaped(text("ReportFailures")
                                            .replace(QStringLiteral("%1"),
                                                     QString::number(s.failuresSinceSuccess))));
        QString changes = QStringLiteral("<span class=\"muted\">-</span>");
        if (!row.changes.isEmpty()) {
            changes = QStringLiteral("<ul class=\"changes\">");
            for (const QString& change : row.changes)
                changes += QStringLiteral("<li>%1</li>").arg(escaped(change));
            changes += QStringLiteral("</ul>");
        }
        html += QStringLiteral("<tr id=\"controller-%1\">").arg(escaped(s.name));
        html += td("ReportController", QStringLiteral("<strong>%1</strong>").arg(escaped(s.name)));
        html += td("ReportState", QStringLiteral("<span class=\"state %1\">%2 %3</span>")
                                      .arg(QLatin1String(classes[state]),
                                           QLatin1String(marks[state]), escaped(words[state])));
        html += td("ReportLastBackup", last);
        html += td("ReportOutcome", outcome);
        html += td("ReportCards", none ? QStringLiteral("-") : QString::number(s.cards), "num");
        html += td("ReportRecords", none ? QStringLiteral("-") : QString::number(s.records), "num");
        html += td("ReportTrend", cardLine(row.cards, text("ReportCards")));
        html += td("ReportChanges", changes);
        html += QStringLiteral("</tr>\n");
    }
    html += QStringLiteral("</tbody>\n</table>\n</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace kt::fleet
