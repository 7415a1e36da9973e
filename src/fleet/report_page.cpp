#include "report_page.h"

#include "record_changes.h"
#include "shell/language.h"

#include <QRegularExpression>
#include <algorithm>

namespace kt::fleet {

namespace {

constexpr char kStyle[] = R"css(
:root { color-scheme: light; font-family: system-ui, -apple-system, "Segoe UI", sans-serif; }
body { margin: 0 auto; max-width: 80rem; padding: 1rem; color: #1a1a1a; background: #fff; }
h1 { font-size: 1.5rem; margin: 0 0 .25rem; }
h2 { font-size: 1.15rem; margin: 1.5rem 0 .5rem; }
.made { color: #555; margin: 0 0 1rem; }
.alarm { background: #fbe0e0; color: #8a1111; border: 2px solid #8a1111; border-radius: .4rem;
         padding: .6rem .8rem; font-weight: 600; }
.summary { display: flex; flex-wrap: wrap; gap: .5rem; padding: 0; list-style: none; }
.summary li { padding: .4rem .8rem; border-radius: .4rem; font-weight: 600;
              border: 1px solid currentColor; }
.summary a { color: inherit; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; vertical-align: top; padding: .45rem .5rem; border-bottom: 1px solid #ddd; }
th { background: #f3f3f3; font-size: .9rem; }
time, .nowrap { white-space: nowrap; }
.state { display: inline-block; padding: .15rem .5rem; border-radius: .3rem; font-weight: 600;
         border: 1px solid currentColor; white-space: nowrap; }
.failing { background: #fbe0e0; color: #8a1111; }
.suspicious { background: #fde8d7; color: #8a3300; }
.never-backed-up { background: #fbe0e0; color: #7a1f4d; }
.stale { background: #fff2cc; color: #6b4a00; }
.unknown { background: #eceff3; color: #2f3d4d; }
.changed { background: #e0ecfb; color: #123f7a; }
.fine { background: #e3f4e6; color: #145a22; }
.mark { color: #123f7a; font-weight: 700; }
.num { text-align: right; font-variant-numeric: tabular-nums; }
.muted { color: #555; }
.error { color: #8a1111; overflow-wrap: break-word; }
td.outcome { min-width: 16rem; }
.strip { display: flex; gap: 2px; }
.strip span { display: inline-block; width: .8rem; height: 1.1rem; border-radius: 2px; }
.strip .ok { background: #2e7d32; }
.strip .bad { background: #c62828; }
.strip .other { background: #9e9e9e; }
.hidden { position: absolute; width: 1px; height: 1px; overflow: hidden; clip: rect(0 0 0 0); }
section { border-top: 1px solid #ccc; }
ul.versions { padding-left: 1.2rem; }
ul.versions li { margin: .25rem 0; }
svg { display: block; }
@media (max-width: 760px) {
  body { padding: .5rem; }
  table, thead, tbody, tr, td { display: block; }
  thead { display: none; }
  tr { border: 1px solid #ccc; border-radius: .4rem; margin-bottom: .75rem; padding: .25rem; }
  td { border: 0; padding: .2rem .5rem; }
  td::before { content: attr(data-label); display: block; font-size: .8rem; color: #555; }
  .num { text-align: left; }
}
@media print {
  body { max-width: none; }
  .state, .summary li { background: none !important; }
  tr, section { break-inside: avoid; }
}
)css";

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

QString timeHtml(const QDateTime& time) {
    if (!time.isValid())
        return QStringLiteral("-");
    return QStringLiteral("<time datetime=\"%1\">%2</time>")
        .arg(time.toString(Qt::ISODate), time.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

// A line of card counts, oldest at the left, with the numbers in its
// title for readers that cannot see it.
QString cardLine(const QList<int>& cards, const QString& label) {
    if (cards.size() < 2)
        return {};
    const int width = 160, height = 32, pad = 3;
    const auto [low, high] = std::minmax_element(cards.cbegin(), cards.cend());
    QStringList points, numbers;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const double x = pad + (width - 2 * pad) * double(i) / double(cards.size() - 1);
        const double y =
            *high == *low ? height / 2.0
                          : height - pad -
                                (height - 2 * pad) * double(cards[i] - *low) / double(*high - *low);
        points.append(QString::number(x, 'f', 1) + u',' + QString::number(y, 'f', 1));
        numbers.append(QString::number(cards[i]));
    }
    const QString title =
        escaped(label + QStringLiteral(": ") + numbers.join(QStringLiteral(", ")));
    return shell::fillIn(
        QStringLiteral("<svg width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\" "
                       "aria-label=\"%3\"><title>%3</title><polyline fill=\"none\" "
                       "stroke=\"#1f5fa8\" stroke-width=\"2\" points=\"%4\"/></svg>"),
        {QString::number(width), QString::number(height), title, points.join(u' ')});
}

// The page's words, filled in one pass.
class Words {
  public:
    explicit Words(const PageLanguage& language) : language_(language) {}
    QString operator()(const char* key, const QStringList& values = {}) const {
        return escaped(shell::fillIn(language_.text(key), values));
    }
    // The text with pieces of HTML in its places.
    QString html(const char* key, const QStringList& pieces) const {
        return shell::fillIn(escaped(language_.text(key)), pieces);
    }
    QString outcome(engine::JobOutcome outcome) const {
        return escaped(language_.text(engine::wordsOf(outcome).nameKey));
    }
    QString state(ControllerState state) const {
        return escaped(language_.text(wordsOf(state).key));
    }

  private:
    const PageLanguage& language_;
};

// A mark beside each state's word, for readers who cannot tell colours.
QString markOf(ControllerState state) {
    static const char* const marks[kControllerStates] = {
        "&#10007;", "&#9660;", "&#10007;", "&#9888;", "?", "&#916;", "&#10003;"};
    return QLatin1String(marks[int(state)]);
}

QString stateBadge(ControllerState state, const Words& words) {
    return QStringLiteral("<span class=\"state %1\">%2 %3</span>")
        .arg(QLatin1String(wordsOf(state).id), markOf(state), words.state(state));
}

// A controller's anchor: its fleet and name, both of plain characters.
QString anchorOf(const ControllerView& view) {
    return QStringLiteral("c-") + view.fleet + u'-' + view.controller->name;
}

QString strip(const ControllerRecord* record, const Words& words) {
    if (!record || record->recent.isEmpty())
        return QStringLiteral("<span class=\"muted\">-</span>");
    QString html = QStringLiteral("<span class=\"strip\">");
    QStringList spoken;
    for (const RecentRun& run : record->recent) {
        const char* cls =
            run.outcome == engine::JobOutcome::Finished ? "ok"
            : engine::isLineFailure(run.outcome) || run.outcome == engine::JobOutcome::FileError
                ? "bad"
                : "other";
        const QString label = escaped(run.at.toString(QStringLiteral("yyyy-MM-dd HH:mm"))) +
                              QStringLiteral(": ") + words.outcome(run.outcome);
        html += QStringLiteral("<span class=\"%1\" title=\"%2\"></span>")
                    .arg(QLatin1String(cls), label);
        spoken.append(label);
    }
    return html + QStringLiteral("</span><span class=\"hidden\">") +
           spoken.join(QStringLiteral("; ")) + QStringLiteral("</span>");
}

// Category names as the window names them, the Language.ini key when it has
// no text.
QString categoryNames(const QStringList& keys, const PageLanguage& language) {
    QStringList names;
    for (const QString& key : keys) {
        const QString text = language.text(key.toLatin1().constData());
        names.append(text.isEmpty() ? key : text);
    }
    return names.join(QStringLiteral(", "));
}

// Why a controller's last complete backup is suspicious: the cards of its
// last good backup and of the new one, the categories that came back
// empty, and when the last good backup was made.
QString suspicionHtml(const ControllerRecord& record, const PageLanguage& language,
                      const Words& words) {
    QStringList parts;
    if (record.readsCards)
        parts.append(words("ReportSuspicion", {QString::number(record.lastGood.held.cards()),
                                               QString::number(record.cards)}));
    if (!record.emptied.isEmpty())
        parts.append(words("ReportEmptied", {categoryNames(record.emptied, language)}));
    parts.append(words.html("ReportLastGood", {timeHtml(record.lastGood.at)}));
    return parts.join(QStringLiteral("; "));
}

QString outcomeCell(const ControllerRecord* record, const PageLanguage& language,
                    const Words& words) {
    if (!record)
        return QStringLiteral("<span class=\"muted\">-</span>");
    QString html = words.outcome(record->outcome);
    if (!record->error.isEmpty())
        html += QStringLiteral("<br><span class=\"error\">%1</span>").arg(escaped(record->error));
    if (record->suspicious)
        html += QStringLiteral("<br><span class=\"error\">%1</span>")
                    .arg(suspicionHtml(*record, language, words));
    return html;
}

QString lastBackupCell(const ControllerView& view, const Words& words) {
    if (!view.record || view.record->lastComplete.isEmpty())
        return words("ReportNone");
    QString html = timeHtml(view.record->lastCompleteAt);
    if (view.clockAhead)
        html += QStringLiteral("<br><strong>%1</strong>").arg(words("StateClockAhead"));
    return html;
}

QString row(const ControllerView& view, bool first, bool severalFleets,
            const PageLanguage& language, const Words& words) {
    const ControllerRecord* r = view.record;
    const QString state = QString::fromLatin1(wordsOf(view.state).id);
    const auto td = [&](const char* key, const QString& html, const char* cls = nullptr) {
        return QStringLiteral("<td data-label=\"%1\"%2>%3</td>")
            .arg(words(key),
                 cls ? QStringLiteral(" class=\"%1\"").arg(QLatin1String(cls)) : QString(), html);
    };
    QString name = escaped(view.controller->name);
    if (severalFleets)
        name = escaped(view.fleet) + QStringLiteral(" / ") + name;
    QString controller = QStringLiteral("<a href=\"#%1\"><strong>%2</strong></a>")
                             .arg(escaped(anchorOf(view)), name);
    if (r && r->changed)
        controller += QStringLiteral("<br><span class=\"mark\">&#916; %1</span>")
                          .arg(words("ReportChangedMark"));
    QString html =
        first ? QStringLiteral("<tr id=\"state-%1\">").arg(state) : QStringLiteral("<tr>");
    html += td("ReportController", controller);
    html += td("ReportState", stateBadge(view.state, words));
    html += td("ReportPort", escaped(view.controller->port));
    html += td("ReportLastBackup", lastBackupCell(view, words));
    html += td("ReportLastTry", r ? timeHtml(r->lastTry) : QStringLiteral("-"));
    html += td("ReportOutcome", outcomeCell(r, language, words), "outcome");
    html += td("ReportFailedTries", r ? QString::number(r->failures) : QStringLiteral("-"), "num");
    html += td("ReportRecent", strip(r, words));
    const bool cards = r && !r->lastComplete.isEmpty() && r->readsCards;
    html += td("ReportCards", cards ? QString::number(r->cards) : QStringLiteral("-"), "num");
    html += td("ReportRecords",
               r && !r->lastComplete.isEmpty() ? QString::number(r->records) : QStringLiteral("-"),
               "num");
    return html + QStringLiteral("</tr>\n");
}

QString section(const ControllerView& view, const ReportSource& source, bool severalFleets,
                const std::map<QString, QList<HistoryVersion>>& versions,
                const PageLanguage& language, const Words& words) {
    QString title = escaped(view.controller->name);
    if (severalFleets)
        title = escaped(view.fleet) + QStringLiteral(" / ") + title;
    QString html = QStringLiteral("<section id=\"%1\">\n<h2>%2 %3</h2>\n")
                       .arg(escaped(anchorOf(view)), title, stateBadge(view.state, words));
    if (view.record && view.record->suspicious)
        html += QStringLiteral("<p>%1</p>\n<p>%2</p>\n")
                    .arg(suspicionHtml(*view.record, language, words),
                         words("ReportAccept", {source.fleet->file, view.controller->name}));
    if (view.record && view.record->changed)
        html += QStringLiteral("<p><span class=\"mark\">&#916;</span> %1: %2</p>\n")
                    .arg(words("ReportChangedMark"),
                         escaped(translatedChanges(view.record->changes, language)));
    if (!source.history) {
        html += QStringLiteral("<p class=\"muted\">%1</p>\n").arg(words("ReportNoHistory"));
    } else {
        const auto found = versions.find(view.controller->name);
        if (found == versions.end() || found->second.isEmpty()) {
            html += QStringLiteral("<p class=\"muted\">%1</p>\n").arg(words("ReportNoVersions"));
        } else {
            const QList<HistoryVersion>& list = found->second;
            QList<int> cards;
            for (const HistoryVersion& version : list)
                if (version.cards >= 0)
                    cards.append(version.cards);
            if (view.record && view.record->readsCards)
                html += cardLine(cards.mid(qMax<qsizetype>(0, cards.size() - kReportVersions)),
                                 language.text("ReportCards"));
            html += QStringLiteral("<h3>%1</h3>\n<ul class=\"versions\">\n")
                        .arg(words("ReportVersions"));
            for (qsizetype v = list.size() - 1;
                 v >= qMax<qsizetype>(0, list.size() - kReportVersions); --v)
                html += QStringLiteral("<li>%1 %2: %3%4</li>\n")
                            .arg(words("ReportVersion", {QString::number(list[v].number)}),
                                 timeHtml(list[v].when),
                                 list[v].suspicious
                                     ? stateBadge(ControllerState::Suspicious, words) + u' '
                                     : QString(),
                                 escaped(translatedChanges(list[v].changes, language)));
            html += QStringLiteral("</ul>\n");
        }
    }
    return html +
           QStringLiteral("<p><a href=\"#top\">%1</a></p>\n</section>\n").arg(words("ReportBack"));
}

} // namespace

QString translatedChanges(const QString& line, const PageLanguage& language) {
    static const QRegularExpression counts(
        QStringLiteral("^(now|first version,) (\\d+) cards, (\\d+) records$"));
    static const QRegularExpression slotPart(
        QStringLiteral("^cards (added|removed|changed) (.*)$"));
    QStringList parts;
    for (const QString& part : line.split(QStringLiteral("; "))) {
        if (const QRegularExpressionMatch m = counts.match(part); m.hasMatch()) {
            parts.append(shell::fillIn(
                language.text(m.captured(1) == QLatin1String("now") ? "ReportNow" : "ReportFirst"),
                {m.captured(2), m.captured(3)}));
        } else if (const QRegularExpressionMatch s = slotPart.match(part); s.hasMatch()) {
            const char* key = s.captured(1) == QLatin1String("added")     ? "ReportCardsAdded"
                              : s.captured(1) == QLatin1String("removed") ? "ReportCardsRemoved"
                                                                          : "ReportCardsChanged";
            parts.append(shell::fillIn(language.text(key), {s.captured(2)}));
        } else if (part == QLatin1String("no change")) {
            parts.append(language.text("ReportNoChange"));
        } else if (part == QLatin1String(kUncompared)) {
            parts.append(language.text("ReportUncompared"));
        } else {
            // Category names, as the window names them.
            QStringList names;
            for (const QString& name : part.split(QStringLiteral(", "))) {
                const engine::Category* category = nullptr;
                for (const engine::Category& c : engine::categories())
                    if (name == QLatin1String(c.languageKey))
                        category = &c;
                const QString text = category ? language.text(category->languageKey) : QString();
                names.append(text.isEmpty() ? name : text);
            }
            parts.append(names.join(QStringLiteral(", ")));
        }
    }
    return parts.join(QStringLiteral("; "));
}

QByteArray reportPage(const QList<ReportSource>& fleets, const PageLanguage& language,
                      const QDateTime& made) {
    const Words words(language);
    const bool several = fleets.size() > 1;
    QList<std::pair<ControllerView, const ReportSource*>> views;
    for (const ReportSource& source : fleets)
        for (ControllerView view : viewsOf(source.fleet->fleet, source.fleet->state, made)) {
            view.fleet = source.fleet->name;
            views.append({view, &source});
        }
    // The controllers that need someone first; within a state, as the
    // fleet files list them.
    std::stable_sort(views.begin(), views.end(), [](const auto& a, const auto& b) {
        return int(a.first.state) < int(b.first.state);
    });
    int counts[kControllerStates] = {};
    int changedMarks = 0;
    for (const auto& [view, source] : views) {
        ++counts[int(view.state)];
        changedMarks += view.record && view.record->changed ? 1 : 0;
    }

    QString html = shell::fillIn(
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>%2</title>\n<style>%3</style>\n</head>\n<body id=\"top\">\n"
                       "<h1>%2</h1>\n<p class=\"made\">%4</p>\n"),
        {escaped(language.tag), words("ReportTitle"), QString::fromLatin1(kStyle),
         words.html("ReportMade", {timeHtml(made)})});
    // A page whose runs have stopped says so before anything else.
    for (const ReportSource& source : fleets) {
        const LoadedFleet& fleet = *source.fleet;
        const QString name = fleet.name;
        if (!fleet.stateProblem.isEmpty())
            html += QStringLiteral("<p class=\"alarm\">%1</p>\n")
                        .arg(words("ReportStateUnreadable", {name, fleet.stateProblem}));
        else if (!fleet.state.lastRun.isValid())
            html +=
                QStringLiteral("<p class=\"alarm\">%1</p>\n").arg(words("ReportNeverRun", {name}));
        else if (fleet.state.lastRun.secsTo(made) > fleet.fleet.settings.maxAgeSeconds)
            html += QStringLiteral("<p class=\"alarm\">%1</p>\n")
                        .arg(words.html("ReportRunsStopped",
                                        {escaped(name), timeHtml(fleet.state.lastRun)}));
    }
    html += QStringLiteral("<ul class=\"summary\">");
    for (int s = 0; s < kControllerStates; ++s) {
        const ControllerState state = ControllerState(s);
        const QString id = QString::fromLatin1(wordsOf(state).id);
        const QString text =
            markOf(state) + u' ' + QString::number(counts[s]) + u' ' + words.state(state);
        html +=
            counts[s] > 0
                ? QStringLiteral("<li class=\"%1\"><a href=\"#state-%1\">%2</a></li>").arg(id, text)
                : QStringLiteral("<li class=\"%1\">%2</li>").arg(id, text);
    }
    html += QStringLiteral("<li class=\"changed\">&#916; %1</li></ul>\n")
                .arg(words("ReportChangedCount", {QString::number(changedMarks)}));
    html += QStringLiteral("<table>\n<thead><tr>");
    for (const char* key :
         {"ReportController", "ReportState", "ReportPort", "ReportLastBackup", "ReportLastTry",
          "ReportOutcome", "ReportFailedTries", "ReportRecent", "ReportCards", "ReportRecords"})
        html += QStringLiteral("<th scope=\"col\">%1</th>").arg(words(key));
    html += QStringLiteral("</tr></thead>\n<tbody>\n");
    for (qsizetype i = 0; i < views.size(); ++i)
        html += row(views[i].first, i == 0 || views[i - 1].first.state != views[i].first.state,
                    several, language, words);
    html += QStringLiteral("</tbody>\n</table>\n");
    std::map<const ReportSource*, std::map<QString, QList<HistoryVersion>>> versions;
    for (const ReportSource& source : fleets)
        if (source.history)
            versions[&source] = source.history->allVersions();
    for (const auto& [view, source] : views)
        html += section(view, *source, several, versions[source], language, words);
    html += QStringLiteral("</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace kt::fleet
