#include "report_page.h"

#include "record_changes.h"
#include "report_chart.h"
#include "report_problems.h"
#include "report_time.h"
#include "shell/language.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <iterator>

namespace kt::fleet {

namespace {

constexpr char kStyle[] = R"css(
:root { color-scheme: light; font-family: system-ui, -apple-system, "Segoe UI", sans-serif; }
body { margin: 0 auto; max-width: 80rem; padding: 1rem; color: #1a1a1a; background: #fff; }
h1 { font-size: 1.5rem; margin: 0 0 .25rem; }
h2 { font-size: 1.15rem; margin: 1.5rem 0 .5rem; }
h1, h2, p, li, td, summary { overflow-wrap: anywhere; }
.made { color: #555; margin: 0 0 1rem; }
.alarm { background: #fbe0e0; color: #8a1111; border: 2px solid #8a1111; border-radius: .4rem;
         padding: .6rem .8rem; font-weight: 600; }
.summary, .counts { display: flex; flex-wrap: wrap; gap: .5rem; padding: 0; list-style: none; }
.summary li, .counts li { padding: .4rem .8rem; border-radius: .4rem; font-weight: 600;
              border: 1px solid currentColor; }
.summary a { color: inherit; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; vertical-align: top; padding: .4rem; border-bottom: 1px solid #ddd; }
th { background: #f3f3f3; font-size: .9rem; word-break: keep-all; }
time > span { white-space: nowrap; }
.state { display: inline-block; padding: .15rem .5rem; border-radius: .3rem; font-weight: 600;
         border: 1px solid currentColor; white-space: nowrap; }
.failing { background: #fbe0e0; color: #8a1111; }
.suspicious { background: #fde8d7; color: #8a3300; }
.never-backed-up { background: #fbe0e0; color: #7a1f4d; }
.stale { background: #fff2cc; color: #6b4a00; }
.unknown { background: #eceff3; color: #2f3d4d; }
.changed { background: #e0ecfb; color: #123f7a; }
.fine { background: #e3f4e6; color: #145a22; }
.note { color: #123f7a; font-size: .9rem; }
.num, table.fine-list td:nth-child(3), table.fine-list td:nth-child(4) {
  text-align: right; font-variant-numeric: tabular-nums; }
table.fine-list td:nth-child(2) { white-space: nowrap; }
.muted { color: #555; }
.error { color: #8a1111; font-size: .9rem; }
td.outcome { min-width: 12rem; }
td.port { min-width: 8rem; }
table.controllers td:first-child { min-width: 6rem; }
.strip { display: flex; gap: 2px; }
.strip span { display: inline-block; width: .8rem; height: 1.1rem; border-radius: 2px; }
.strip .ok { background: #2e7d32; }
.strip .bad { background: #c62828; }
.strip .other { background: #9e9e9e; }
.hidden { position: absolute; width: 1px; height: 1px; overflow: hidden; clip: rect(0 0 0 0); }
details { margin: 1rem 0; }
summary { cursor: pointer; font-weight: 600; padding: .4rem 0; color: #145a22; }
section { border-top: 1px solid #ccc; }
ul.versions { padding-left: 1.2rem; }
ul.versions li { margin: .25rem 0; }
figure.chart { margin: .5rem 0; }
figcaption { font-size: .9rem; color: #333; }
svg { display: block; max-width: 100%; height: auto; }
@media (max-width: 760px) {
  body { padding: .5rem; }
  table, thead, tbody, tr, td { display: block; }
  thead { display: none; }
  tr { border: 1px solid #ccc; border-radius: .4rem; margin-bottom: .75rem; padding: .25rem; }
  td { border: 0; padding: .2rem .5rem; }
  td::before { content: attr(data-label); display: block; font-size: .8rem; color: #555; }
  .num, table.fine-list td { text-align: left; }
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

// A text as a CSS string: every character but letters, digits and blanks
// by its code, so that nothing in it ends the string or the style.
QString cssString(const QString& text) {
    QString css = QStringLiteral("\"");
    for (const char32_t c : text.toUcs4()) {
        const QString one = QString::fromUcs4(&c, 1);
        css += one.front().isLetterOrNumber() || c == U' '
                   ? one
                   : QStringLiteral("\\%1 ").arg(uint(c), 0, 16);
    }
    return css + u'"';
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
        const QString label =
            escaped(shownTime(run.at)) + QStringLiteral(": ") + words.outcome(run.outcome);
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
        controller +=
            QStringLiteral("<br><span class=\"note\">%1</span>").arg(words("ReportChangedMark"));
    QString html =
        first ? QStringLiteral("<tr id=\"state-%1\">").arg(state) : QStringLiteral("<tr>");
    html += td("ReportController", controller);
    html += td("ReportState", stateBadge(view.state, words));
    html += td("ReportPort", escaped(view.controller->port), "port");
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
                bool bySite, const std::map<QString, QList<HistoryVersion>>& versions,
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
        html += QStringLiteral("<p class=\"note\">%1: %2</p>\n")
                    .arg(words("ReportChangedMark"),
                         escaped(translatedChanges(view.record->changes, language)));
    if (!source.history) {
        // A site's page reads only the states on the remote; the versions
        // stay in each gateway's history.
        html += QStringLiteral("<p class=\"muted\">%1</p>\n")
                    .arg(bySite ? words("ReportVersionsOnGateway", {view.fleet})
                                : words("ReportNoHistory"));
    } else {
        const auto found = versions.find(view.controller->name);
        if (found == versions.end() || found->second.isEmpty()) {
            html += QStringLiteral("<p class=\"muted\">%1</p>\n").arg(words("ReportNoVersions"));
        } else {
            const QList<HistoryVersion>& list = found->second;
            QList<CardPoint> cards;
            for (const HistoryVersion& version : list)
                if (version.cards >= 0)
                    cards.append({version.when, version.cards});
            if (view.record && view.record->readsCards)
                html += cardChart(cards.mid(qMax<qsizetype>(0, cards.size() - kReportVersions)),
                                  language.text("ReportChart"));
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

// The columns of the list of fine controllers.
constexpr const char* kFineColumns[] = {"ReportController", "ReportLastBackup", "ReportCards",
                                        "ReportRecords", "ReportLastChanges"};

// The style that names each cell of that list on a narrow screen, where its
// rows stand as blocks: the list spends no bytes on it row by row.
QString fineListLabels(const PageLanguage& language) {
    QString css = QStringLiteral("@media (max-width: 760px) {\n");
    for (qsizetype i = 0; i < qsizetype(std::size(kFineColumns)); ++i)
        css += QStringLiteral("table.fine-list td:nth-child(%1)::before { content: %2; }\n")
                   .arg(i + 1)
                   .arg(cssString(language.text(kFineColumns[i])));
    return css + QStringLiteral("}\n");
}

// The controllers that need nobody, in a list that opens from their count:
// a short row each, so that a fleet of thousands makes a small page.
QString fineList(const QList<const ControllerView*>& fine, bool severalFleets, const QString& id,
                 const PageLanguage& language, const Words& words) {
    QString html = QStringLiteral("<details id=\"%1\"><summary>%2 %3</summary>\n"
                                  "<table class=\"fine-list\">\n<thead><tr>")
                       .arg(id, markOf(ControllerState::Fine),
                            words("ReportFineList", {QString::number(fine.size())}));
    for (const char* key : kFineColumns)
        html += QStringLiteral("<th scope=\"col\">%1</th>").arg(words(key));
    html += QStringLiteral("</tr></thead>\n<tbody>\n");
    for (const ControllerView* view : fine) {
        // A fine controller has a complete backup, and a record of it.
        const ControllerRecord& r = *view->record;
        QString name = escaped(view->controller->name);
        if (severalFleets)
            name = escaped(view->fleet) + QStringLiteral(" / ") + name;
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td>")
                    .arg(name, escaped(shownTime(r.lastCompleteAt)),
                         r.readsCards ? QString::number(r.cards) : QStringLiteral("-"),
                         QString::number(r.records));
        if (r.changed)
            html +=
                QStringLiteral("<td>%1</td>").arg(escaped(translatedChanges(r.changes, language)));
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</tbody>\n</table>\n</details>\n");
}

// Slots as a change line lists them, "1, 2, 3 and 7 more" or "1-5, 9, and 3
// more", with the count of the rest in the page's language.
QString translatedSlots(const QString& list, const PageLanguage& language) {
    static const QRegularExpression more(QStringLiteral("^(.*?),? and (\\d+) more$"));
    const QRegularExpressionMatch m = more.match(list);
    return m.hasMatch()
               ? m.captured(1) + u' ' + shell::fillIn(language.text("ReportMore"), {m.captured(2)})
               : list;
}

// Category names, as the window names them; the records of no category as
// "other records".
QString categoryWords(const QString& part, const PageLanguage& language) {
    QStringList names;
    for (const QString& name : part.split(QStringLiteral(", "))) {
        const engine::Category* category = nullptr;
        for (const engine::Category& c : engine::categories())
            if (name == QLatin1String(c.languageKey))
                category = &c;
        const QString text = category                         ? language.text(category->languageKey)
                             : name == QLatin1String("Other") ? language.text("ReportOtherRecords")
                                                              : QString();
        names.append(text.isEmpty() ? name : text);
    }
    return names.join(QStringLiteral(", "));
}

} // namespace

QString translatedChanges(const QString& line, const PageLanguage& language) {
    static const QRegularExpression counts(
        QStringLiteral("^(now|first version,) (\\d+) cards, (\\d+) records$"));
    static const QRegularExpression slotPart(
        QStringLiteral("^cards (added|removed|changed) (.*)$"));
    static const QRegularExpression unread(
        QStringLiteral("^not read by the (newer|older) backup: (.*)$"));
    static const QRegularExpression unreadCards(QStringLiteral("^cards? (.*)$"));
    QStringList parts;
    // What one backup did not read: its pieces are parted as the line's
    // own parts are, up to the next part of another kind.
    const char* unreadKey = nullptr;
    QStringList unreadItems;
    const auto endUnread = [&] {
        if (unreadKey)
            parts.append(
                shell::fillIn(language.text(unreadKey), {unreadItems.join(QStringLiteral(", "))}));
        unreadKey = nullptr;
        unreadItems.clear();
    };
    const auto unreadItem = [&](const QString& item) {
        if (const QRegularExpressionMatch m = unreadCards.match(item); m.hasMatch())
            unreadItems.append(shell::fillIn(language.text("ReportCardSlots"),
                                             {translatedSlots(m.captured(1), language)}));
        else
            unreadItems.append(categoryWords(item, language));
    };
    for (const QString& part : line.split(QStringLiteral("; "))) {
        if (const QRegularExpressionMatch u = unread.match(part); u.hasMatch()) {
            endUnread();
            unreadKey = u.captured(1) == QLatin1String("newer") ? "ReportNotReadNewer"
                                                                : "ReportNotReadOlder";
            unreadItem(u.captured(2));
        } else if (const QRegularExpressionMatch m = counts.match(part); m.hasMatch()) {
            endUnread();
            parts.append(shell::fillIn(
                language.text(m.captured(1) == QLatin1String("now") ? "ReportNow" : "ReportFirst"),
                {m.captured(2), m.captured(3)}));
        } else if (const QRegularExpressionMatch s = slotPart.match(part); s.hasMatch()) {
            endUnread();
            const char* key = s.captured(1) == QLatin1String("added")     ? "ReportCardsAdded"
                              : s.captured(1) == QLatin1String("removed") ? "ReportCardsRemoved"
                                                                          : "ReportCardsChanged";
            parts.append(
                shell::fillIn(language.text(key), {translatedSlots(s.captured(2), language)}));
        } else if (part == QLatin1String("no change")) {
            endUnread();
            parts.append(language.text("ReportNoChange"));
        } else if (part == QLatin1String(kUncompared)) {
            endUnread();
            parts.append(language.text("ReportUncompared"));
        } else if (unreadKey) {
            unreadItem(part);
        } else {
            parts.append(categoryWords(part, language));
        }
    }
    endUnread();
    return parts.join(QStringLiteral("; "));
}

namespace {

using Entry = std::pair<ControllerView, const ReportSource*>;

// What the page shows of some controllers: those that need someone in a
// table, the first row of each state not yet anchored on the page taking
// its anchor, then the fine ones in a list that opens, as `fineId`.
QString controllersHtml(const QList<const Entry*>& needed, const QList<const ControllerView*>& fine,
                        bool several, QSet<int>& anchored, const QString& fineId,
                        const PageLanguage& language, const Words& words) {
    QString html;
    if (needed.isEmpty()) {
        html += QStringLiteral("<p>%1</p>\n").arg(words("ReportAllFine"));
    } else {
        html += QStringLiteral("<table class=\"controllers\">\n<thead><tr>");
        for (const char* key :
             {"ReportController", "ReportState", "ReportPort", "ReportLastBackup", "ReportLastTry",
              "ReportOutcome", "ReportFailedTries", "ReportRecent", "ReportCards", "ReportRecords"})
            html += QStringLiteral("<th scope=\"col\">%1</th>").arg(words(key));
        html += QStringLiteral("</tr></thead>\n<tbody>\n");
        for (const Entry* entry : needed) {
            const bool first = !anchored.contains(int(entry->first.state));
            anchored.insert(int(entry->first.state));
            html += row(entry->first, first, several, language, words);
        }
        html += QStringLiteral("</tbody>\n</table>\n");
    }
    if (!fine.isEmpty())
        html += fineList(fine, several, fineId, language, words);
    return html;
}

// A fleet's name, with the gateway that runs it when it is known.
QString fleetTitle(const LoadedFleet& fleet) {
    return fleet.gateway.isEmpty()
               ? fleet.name
               : shell::fillIn(QStringLiteral("%1 (%2)"), {fleet.name, fleet.gateway});
}

// Each state's count; with `links`, each leads to its first row, those of
// fine states to the list that holds them.
QString countsHtml(const int (&counts)[kControllerStates], bool links, const Words& words) {
    QString html = QStringLiteral("<ul class=\"%1\">").arg(links ? "summary" : "counts");
    for (int s = 0; s < kControllerStates; ++s) {
        const ControllerState state = ControllerState(s);
        const QString id = QString::fromLatin1(wordsOf(state).id);
        const QString text =
            markOf(state) + u' ' + QString::number(counts[s]) + u' ' + words.state(state);
        const QString target = state == ControllerState::Fine || state == ControllerState::Changed
                                   ? QStringLiteral("fine")
                                   : QStringLiteral("state-") + id;
        html += counts[s] > 0 && links
                    ? QStringLiteral("<li class=\"%1\"><a href=\"#%2\">%3</a></li>")
                          .arg(id, target, text)
                    : QStringLiteral("<li class=\"%1\">%2</li>").arg(id, text);
    }
    return html + QStringLiteral("</ul>\n");
}

} // namespace

QByteArray reportPage(const QList<ReportSource>& fleets, const PageLanguage& language,
                      const QDateTime& made, ReportLayout layout) {
    const Words words(language);
    const bool bySite = layout == ReportLayout::Site;
    const bool several = fleets.size() > 1 || bySite;
    QList<Entry> views;
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
    QList<const Entry*> needed;
    QList<const ControllerView*> fine;
    for (const Entry& entry : std::as_const(views)) {
        ++counts[int(entry.first.state)];
        if (entry.first.fine())
            fine.append(&entry.first);
        else
            needed.append(&entry);
    }

    QString html = shell::fillIn(
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>%2</title>\n<style>%3%4</style>\n</head>\n<body id=\"top\">\n"
                       "<h1>%2</h1>\n<p class=\"made\">%5</p>\n"),
        {escaped(language.tag), words("ReportTitle"), QString::fromLatin1(kStyle),
         fineListLabels(language), words.html("ReportMade", {timeHtml(made)})});
    // A page whose runs have stopped says so before anything else.
    for (const ReportSource& source : fleets) {
        const LoadedFleet& fleet = *source.fleet;
        const QString name = fleetTitle(fleet);
        if (!fleet.stateProblem.isEmpty())
            html += QStringLiteral("<p class=\"alarm\">%1</p>\n")
                        .arg(words("ReportStateUnreadable", {name, fleet.stateProblem}));
        else if (!fleet.state.lastRun.isValid())
            html +=
                QStringLiteral("<p class=\"alarm\">%1</p>\n").arg(words("ReportNeverRun", {name}));
        else if (runsStopped(fleet, made))
            html += QStringLiteral("<p class=\"alarm\">%1</p>\n")
                        .arg(words.html("ReportRunsStopped",
                                        {escaped(name), timeHtml(fleet.state.lastRun)}));
    }
    html += countsHtml(counts, true, words);
    QList<ControllerView> shown;
    for (const auto& [view, source] : views)
        shown.append(view);
    html += problemListHtml(problemGroupsOf(shown, several), language);
    QSet<int> anchored;
    if (!bySite) {
        html += controllersHtml(needed, fine, several, anchored, QStringLiteral("fine"), language,
                                words);
    } else {
        // A section for each gateway, its controllers as the page lists them.
        for (qsizetype g = 0; g < fleets.size(); ++g) {
            const ReportSource* source = &fleets[g];
            int own[kControllerStates] = {};
            QList<const Entry*> ownNeeded;
            QList<const ControllerView*> ownFine;
            for (const Entry& entry : std::as_const(views)) {
                if (entry.second != source)
                    continue;
                ++own[int(entry.first.state)];
                if (entry.first.fine())
                    ownFine.append(&entry.first);
                else
                    ownNeeded.append(&entry);
            }
            const QDateTime& lastRun = source->fleet->state.lastRun;
            html += QStringLiteral("<section class=\"gateway\">\n<h2>%1</h2>\n")
                        .arg(escaped(fleetTitle(*source->fleet)));
            if (lastRun.isValid())
                html += QStringLiteral("<p class=\"made\">%1</p>\n")
                            .arg(words.html("ReportNewestRun", {timeHtml(lastRun)}));
            html += countsHtml(own, false, words);
            html +=
                controllersHtml(ownNeeded, ownFine, several, anchored,
                                g == 0 ? QStringLiteral("fine") : QStringLiteral("fine-%1").arg(g),
                                language, words);
            html += QStringLiteral("</section>\n");
        }
    }
    std::map<const ReportSource*, std::map<QString, QList<HistoryVersion>>> versions;
    for (const ReportSource& source : fleets)
        if (source.history)
            versions[&source] = source.history->allVersions();
    for (const Entry* entry : std::as_const(needed))
        html += section(entry->first, *entry->second, several, bySite, versions[entry->second],
                        language, words);
    html += QStringLiteral("</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace kt::fleet
