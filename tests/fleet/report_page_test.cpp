// The report page: its rows in the order of triage, and every word in the
// page's language, the history's change lines included.
#include "fleet/report_page.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

using kt::engine::JobOutcome;

TEST(ReportPage, ListsWhatNeedsSomeoneFirstAndSpeaksOnlyThePagesLanguage) {
    const QDateTime now = QDateTime::currentDateTime();
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
    changed.changes = "UserCardDatabase, HolidayTable; cards added 3, 7; now 5 cards, 6 records";
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
    EXPECT_TRUE(text.contains("{ReportCardsAdded:3, 7:"));
    EXPECT_TRUE(text.contains("{UserCardDatabase:"));
    EXPECT_TRUE(text.contains("{ReportSuspicion:40:0}")); // the cards before and after
    EXPECT_TRUE(text.contains("{ReportEmptied:{HolidayTable:"));
    text.remove(QRegularExpression(QStringLiteral("\\{[^{}]*\\}")));
    for (const char* english : {"finished", "no answer", "cards added", "now 5", "UserCardDatabase",
                                "Fine", "Failing", "changed", "Holiday"})
        EXPECT_FALSE(text.contains(QLatin1String(english))) << english;
    EXPECT_TRUE(page.contains("11 tries, &lt;no&gt; reply")); // the system's words, escaped

    QStringList rows; // the first of each state's, in the order of triage
    for (const QRegularExpressionMatch& row :
         QRegularExpression("<tr id=\"state-(\\w+)\">").globalMatch(page))
        rows.append(row.captured(1));
    EXPECT_EQ(rows, (QStringList{"failing", "suspicious", "unknown", "changed", "fine"}));
    EXPECT_TRUE(page.contains("href=\"#state-failing\""));
    EXPECT_FALSE(page.contains("href=\"#state-stale\"")); // no row to go to
}

} // namespace
