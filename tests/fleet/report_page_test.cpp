// The report page: its rows in the order of triage, the fine controllers in
// a list of their own, every word in the page's language (the history's
// change lines included) and every time with its zone.
#include "fleet/report_chart.h"
#include "fleet/report_page.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

using kt::engine::JobOutcome;

TEST(ReportPage, ListsWhatNeedsSomeoneFirstAndSpeaksOnlyThePagesLanguage) {
    // A zone of its own, whatever the computer's.
    const QDateTime now = QDateTime::currentDateTime().toOffsetFromUtc(8 * 3600);
    kt::fleet::LoadedFleet loaded;
    loaded.name = "site";
    for (const char* name : {"quiet", "lobby", "dead", "new", "wiped"}) {
        kt::fleet::FleetController controller;
        controller.name = name;
        controller.port = QStringLiteral("tcp://gw:400%1").arg(loaded.fleet.controllers.size());
        loaded.fleet.controllers.append(controller);
    }
    loaded.state.lastRun = now;
    kt::fleet::ControllerRecord fine;
    fine.outcome = JobOutcome::Finished;
    fine.lastComplete = "/b/quiet/x.KT";
    fine.lastCompleteAt = now.addSecs(-3600);
    fine.recent = {{now, JobOutcome::Finished, false}};
    kt::fleet::ControllerRecord changed = fine;
    changed.changed = true;
    changed.changes = "UserCardDatabase, HolidayTable; cards added 3, 7 and 40 more; not read by "
                      "the newer backup: cards 2000-2003, 2100, and 3 more; SystemDatabase; Other; "
                      "now 5 cards, 6 records";
    kt::fleet::ControllerRecord failing;
    failing.outcome = JobOutcome::NoAnswer;
    failing.error = "11 tries, <no> reply";
    failing.recent = {{now, JobOutcome::NoAnswer, false}};
    kt::fleet::ControllerRecord wiped = changed;
    wiped.readsCards = true;
    wiped.cards = 0;
    wiped.suspicious = true;
    wiped.emptied = {"HolidayTable"};
    wiped.lastGood = {"/b/wiped/x.KT", now.addDays(-1), {{{"UserCardDatabase", 40}}, {}}};
    loaded.state.controllers = {
        {"quiet", fine}, {"lobby", changed}, {"dead", failing}, {"wiped", wiped}};

    // Every text is its key: a word of the page that is not one came from
    // somewhere else.
    const kt::fleet::PageLanguage language{
        [](const char* key) {
            return QStringLiteral("{%1:%2:%3}").arg(QLatin1String(key), "%1", "%2");
        },
        QStringLiteral("xx")};
    const QString page = QString::fromUtf8(
        kt::fleet::reportPage({kt::fleet::ReportSource{&loaded, nullptr}}, language, now));

    QString text = page;
    text.remove(QRegularExpression(QStringLiteral("<style>.*</style>"),
                                   QRegularExpression::DotMatchesEverythingOption));
    text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    EXPECT_TRUE(text.contains("{ReportCardsAdded:3, 7 {ReportMore:40:"));
    EXPECT_TRUE(text.contains("{ReportNotReadNewer:{ReportCardSlots:2000-2003, 2100 {ReportMore:3:"
                              "%2}:%2}, {SystemDatabase:%1:%2}, {ReportOtherRecords:%1:%2}:%2}"));
    EXPECT_TRUE(text.contains("{UserCardDatabase:"));
    EXPECT_TRUE(text.contains("{ReportSuspicion:40:0}")); // the cards before and after
    EXPECT_TRUE(text.contains("{ReportEmptied:{HolidayTable:"));
    text.remove(QRegularExpression(QStringLiteral("\\{[^{}]*\\}")));
    for (const char* english :
         {"finished", "no answer", "cards added", "now 5", "UserCardDatabase", "Fine", "Failing",
          "changed", "Holiday", "not read", "more", "Other", "System"})
        EXPECT_FALSE(text.contains(QLatin1String(english))) << english;
    EXPECT_TRUE(page.contains("11 tries, &lt;no&gt; reply")); // the system's words, escaped

    QStringList rows; // the first of each state's, in the order of triage
    for (const QRegularExpressionMatch& row :
         QRegularExpression("<tr id=\"state-(\\w+)\">").globalMatch(page))
        rows.append(row.captured(1));
    EXPECT_EQ(rows, (QStringList{"failing", "suspicious", "unknown"}));
    EXPECT_TRUE(page.contains("href=\"#state-failing\""));
    EXPECT_FALSE(page.contains("href=\"#state-stale\"")); // no row to go to
    // The fine ones: a row each in the list their counts lead to, and no
    // section of their own.
    const QString fineList = page.section("<details id=\"fine\">", 1).section("</details>", 0, 0);
    EXPECT_TRUE(page.contains("href=\"#fine\">&#916; 1 {StateChanged"));
    EXPECT_TRUE(page.contains("href=\"#fine\">&#10003; 1 {StateFine"));
    EXPECT_EQ(fineList.count("<tr><td>"), 2);
    EXPECT_TRUE(fineList.contains("<tr><td>lobby</td>") && fineList.contains("<tr><td>quiet</td>"));
    EXPECT_TRUE(page.contains("<section id=\"c-site-dead\">"));
    EXPECT_FALSE(page.contains("<section id=\"c-site-quiet\">"));

    // Every time says its zone, in its text as in its datetime.
    const QRegularExpression zoned(R"(<time datetime="[^"]+\+08:00"><span>[-\d]+</span> )"
                                   R"(<span>[:\d]+ UTC\+08:00</span></time>)");
    const qsizetype times = page.count("<time ");
    EXPECT_GE(times, 4);
    EXPECT_EQ(page.count(zoned), times);
    EXPECT_EQ(fineList.count("UTC+08:00"), 2);
}

// A chart of cards says what it shows: its caption, the counts at its axis,
// the dates of its first and last version, and every count for a reader.
TEST(ReportPage, AChartOfCardsIsLabelled) {
    const QDateTime first(QDate(2026, 11, 2), QTime(2, 30));
    const QString chart = kt::fleet::cardChart(
        {{first, 40}, {first.addDays(1), 43}, {first.addDays(30), 12}}, "Cards <held>");
    EXPECT_TRUE(chart.contains("<figcaption>Cards &lt;held&gt;</figcaption>"));
    EXPECT_TRUE(chart.contains("aria-label=\"Cards &lt;held&gt;: 40, 43, 12\""));
    for (const char* label :
         {">43</text>", ">12</text>", ">2026-11-02</text>", ">2026-12-02</text>"})
        EXPECT_TRUE(chart.contains(label)) << label;
    EXPECT_TRUE(kt::fleet::cardChart({{first, 40}}, "Cards").isEmpty()); // no line of one point
}

} // namespace
