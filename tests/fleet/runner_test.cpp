// The runner of a fleet's jobs, with a stand-in for kt560ax that records
// when each job runs and fails as told.
#include "fleet/exit_status.h"
#include "fleet/fleet_runner.h"
#include "support/stand_in.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Starts the run and lets it go on until it says it has finished.
QList<kt::fleet::ControllerRun> runAll(kt::fleet::FleetRunner& runner, const QString& stamp) {
    QSignalSpy finished(&runner, &kt::fleet::FleetRunner::finished);
    runner.start(stamp);
    EXPECT_TRUE(finished.wait(120000)) << "the run did not finish";
    return runner.runs();
}

kt::fleet::FleetController controller(const char* name, const QString& folder) {
    kt::fleet::FleetController made;
    made.name = name;
    made.port = "COM1";
    made.folder = folder;
    return made;
}

// save FILE ...: the controller is the name of FILE's folder.
constexpr char kStandIn[] = R"sh(#!/bin/sh
name=$(basename "$(dirname "$2")")
echo "start $name" >>"$0.log"
# The first job ends only once a second one has started (or after 10 s), so
# that two run at once whenever the runner starts them as it should.
for _ in $(seq 200); do [ "$(grep -c ^start "$0.log")" -ge 2 ] && break; sleep 0.05; done
sleep 0.1
echo "end $name" >>"$0.log"
case $name in
flaky) [ "$(grep -c "^start flaky" "$0.log")" -ge 2 ] || exit 3 ;;
dead) exit 6 ;;
broken) exit 2 ;;
esac
echo '{"outcome":"finished"}'
)sh";

// Never more jobs than Jobs=, never two on one line, a retry only for what
// the line failed, and a folder that takes no backup said without a job.
TEST(FleetRunner, KeepsToTheJobLimitAndTriesAgainOnlyWhatTheLineFailed) {
    QTemporaryDir dir;
    const QString program = dir.filePath("job");
    ASSERT_TRUE(kt::test::writeProgram(program, kStandIn));
    ASSERT_TRUE(QFile(dir.filePath("stick")).open(QIODevice::WriteOnly));

    kt::fleet::Fleet fleet;
    fleet.settings.jobsPerProcess = 1; // the stand-in is one job's program
    fleet.settings.jobs = 2;
    fleet.settings.retries = 1;
    fleet.settings.retryPauseSeconds = 0;
    QList<QStringList> lines;
    // bus1 and bus2 share no line, but each shares one with bus3: one queue.
    const QMap<QString, QStringList> shared = {
        {"bus1", {"tcp-a"}}, {"bus2", {"tcp-b"}}, {"bus3", {"tcp-b", "tcp-a"}}};
    // door's folder is under a file: never a folder.
    for (const char* name : {"a", "b", "flaky", "dead", "broken", "bus1", "bus2", "bus3", "door"}) {
        const bool door = qstrcmp(name, "door") == 0;
        fleet.controllers.append(controller(name, door ? dir.filePath("stick/x") : dir.path()));
        lines.append(shared.value(name, {name}));
    }
    kt::fleet::FleetRunner runner(fleet, program, {}, lines);
    runner.setTexts([](const char* key) { return QString::fromLatin1(key) + " %1"; });
    const QList<kt::fleet::ControllerRun> runs = runAll(runner, "2026-12-06_020000");

    const std::pair<int, int> expected[] = {
        {kt::kDone, 1}, {kt::kDone, 1}, {kt::kDone, 2}, {kt::kPortError, 2}, {kt::kFileError, 1},
        {kt::kDone, 1}, {kt::kDone, 1}, {kt::kDone, 1}, {kt::kFileError, 1}};
    ASSERT_EQ(runs.size(), 9);
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(runs[i].controller->name.toStdString());
        EXPECT_EQ(runs[i].status, expected[i].first);
        EXPECT_EQ(runs[i].tries, expected[i].second);
    }
    EXPECT_FALSE(QFile::exists(runs[3].file)); // a try that stored nothing leaves nothing
    EXPECT_TRUE(runs[8].error.contains("FileNoFolder " + dir.filePath("stick/x")))
        << runs[8].error.toStdString();

    QFile record(program + ".log");
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    int running = 0, most = 0, onTheBus = 0;
    for (const QByteArray& line : record.readAll().split('\n')) {
        EXPECT_FALSE(line.contains("door")) << "a job for a folder that takes no backup";
        if (line.isEmpty())
            continue;
        const int step = line.startsWith("start") ? 1 : -1;
        running += step;
        most = std::max(most, running);
        if (line.contains(" bus")) {
            onTheBus += step;
            EXPECT_LE(onTheBus, 1) << "two jobs at once on one line";
        }
    }
    EXPECT_EQ(most, 2);

    // A job that cannot be started at all ends the run all the same.
    kt::fleet::FleetRunner broken(fleet, dir.filePath("missing"), {}, lines);
    for (const kt::fleet::ControllerRun& run : runAll(broken, "2026-12-06_030000"))
        EXPECT_EQ(run.status, kt::kFileError) << run.controller->name.toStdString();
}

// A port another job still holds: the job says so in its summary. held is
// free on its third try; late then fails on the line once and is retried
// with the fleet's one retry, which the waits for the port did not use up.
constexpr char kBusyPort[] = R"sh(#!/bin/sh
name=$(basename "$(dirname "$2")")
echo "$name" >>"$0.log"
try=$(grep -c "^$name$" "$0.log")
[ "$try" -le 2 ] && { echo '{"outcome":"port-unavailable","portBusy":true}'; exit 6; }
[ "$name.$try" = late.3 ] && exit 3
echo '{"outcome":"finished"}'
)sh";

TEST(FleetRunner, APortFoundBusyIsTriedAgainAfterAShortWait) {
    QTemporaryDir dir;
    const QString program = dir.filePath("job");
    ASSERT_TRUE(kt::test::writeProgram(program, kBusyPort));
    kt::fleet::Fleet fleet;
    fleet.settings.jobsPerProcess = 1; // the stand-in is one job's program
    fleet.settings.retryPauseSeconds = 0;
    const struct {
        const char* name;
        int retries;
        int tries;
    } cases[] = {{"held", 0, 3}, {"late", 1, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fleet.settings.retries = c.retries;
        fleet.controllers = {controller(c.name, dir.path())};
        kt::fleet::FleetRunner runner(fleet, program, {}, {{c.name}});
        const QList<kt::fleet::ControllerRun> runs = runAll(runner, "2026-12-06_020000");
        EXPECT_EQ(runs[0].status, kt::kDone);
        EXPECT_EQ(runs[0].tries, c.tries);
    }
}

// A stop while the run waits to try again ends it at once, and only once.
TEST(FleetRunner, AStopDuringTheRetryPauseFinishesTheRunOnce) {
    QTemporaryDir dir;
    const QString program = dir.filePath("job");
    ASSERT_TRUE(kt::test::writeProgram(program, "#!/bin/sh\nexit 6\n")); // the port is never there
    kt::fleet::Fleet fleet;
    fleet.settings.jobsPerProcess = 1; // the stand-in is one job's program
    fleet.settings.retries = 3;
    fleet.settings.retryPauseSeconds = 3600;
    fleet.controllers.append(controller("dead", dir.path()));

    kt::fleet::FleetRunner runner(fleet, program, {}, {{"dead"}});
    int finished = 0;
    QObject::connect(&runner, &kt::fleet::FleetRunner::finished, [&finished] { ++finished; });
    QObject::connect(&runner, &kt::fleet::FleetRunner::retrying, &runner,
                     [&runner] { runner.stop(); });
    const QList<kt::fleet::ControllerRun> runs = runAll(runner, "2026-12-06_020000");
    QCoreApplication::processEvents(); // a second end would be queued by now
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(runs[0].tries, 1);
    EXPECT_EQ(runs[0].status, kt::kPortError);
}

} // namespace
