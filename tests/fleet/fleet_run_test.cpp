// A whole run of a fleet with a stand-in for kt560ax: what it records in
// the fleet's state, what it tells its view, and what a second run adds.
#include "fleet/exit_status.h"
#include "fleet/fleet_run.h"
#include "fleet/metrics.h"
#include "support/stand_in.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::engine::JobOutcome;
using kt::fleet::ControllerState;

// save FILE ...: a backup of two records, or for "dead" the port's error.
constexpr char kStandIn[] = R"sh(#!/bin/sh
case $(basename "$(dirname "$2")") in
dead) echo "kt560ax: cannot open /dev/ttyUSB9: no such device" >&2; exit 6 ;;
esac
printf '[HEAD]\nTitle=KT560AX\nComplete=1\nFinished=%s\n[Data]\nDC=01\nDI=02\n' \
    "$(date +%Y-%m-%dT%H:%M:%S%:z)" >"$2"
echo '{"outcome":"finished","records":2,"seconds":1.5}'
)sh";

struct View : kt::fleet::FleetRunView {
    QStringList lines;
    QList<int> ends;
    void controllerEnded(const kt::fleet::RunResult& result, int i, int ended, int total) override {
        EXPECT_EQ(total, 2);
        ends.append(ended);
        lines.append(result.runs[i].complete() ? result.changeLine(i) : result.failureLine(i));
    }
    void retrying(int, int) override {}
    void problem(const QString& text) override { lines.append("problem: " + text); }
    void hookOutput(const QString&, const QString&) override {}
};

// Starts the run and lets it go on until it says it has finished.
const kt::fleet::RunResult& runToTheEnd(kt::fleet::FleetRun& run) {
    QSignalSpy finished(&run, &kt::fleet::FleetRun::finished);
    run.start();
    EXPECT_TRUE(finished.wait(120000)) << "the run did not finish";
    return run.result();
}

// A fleet reports its most severe status, whatever the numbers are.
TEST(ExitStatus, TheMoreSevereStatusWins) {
    const int order[] = {kt::kDone,      kt::kDifferences, kt::kCommError,  kt::kPortError,
                         kt::kFileError, kt::kUsage,       kt::kInterrupted};
    for (int a = 0; a < 7; ++a)
        for (int b = 0; b < 7; ++b)
            EXPECT_EQ(kt::worse(order[a], order[b]), order[std::max(a, b)]) << a << ' ' << b;
}

TEST(FleetRun, RecordsEachControllersStateAndTellsItsView) {
    QTemporaryDir dir;
    const QString program = dir.filePath("job");
    ASSERT_TRUE(kt::test::writeProgram(program, kStandIn));

    kt::fleet::Fleet fleet;
    fleet.settings.metrics = dir.filePath("kt.prom");
    for (const char* name : {"north", "dead"}) {
        kt::fleet::FleetController controller;
        controller.name = name;
        controller.port = QStringLiteral("/dev/%1").arg(name);
        controller.folder = dir.path();
        fleet.controllers.append(controller);
    }
    const kt::fleet::RunSettings settings{
        .fleetFile = dir.filePath("site.ini"),
        .program = program,
        .lines = {{"a"}, {"b"}},
        .language = {[](const char* key) { return QString::fromLatin1(key); }}};
    for (int night = 1; night <= 2; ++night) {
        SCOPED_TRACE(night);
        View view;
        kt::fleet::FleetRun run(fleet, settings, view);
        const kt::fleet::RunResult& result = runToTheEnd(run);
        EXPECT_EQ(result.status, kt::kPortError);
        EXPECT_EQ(result.failed, QList<int>{1});
        EXPECT_EQ(result.changed, night == 1 ? QList<int>{0} : QList<int>{});
        view.lines.sort();
        EXPECT_EQ(view.lines,
                  (QStringList{"dead: port unavailable after 1 try: cannot open /dev/ttyUSB9: no "
                               "such device",
                               night == 1 ? "north: first version, 0 cards, 2 records"
                                          : "north: no change; now 0 cards, 2 records"}));
        EXPECT_EQ(view.ends, (QList<int>{1, 2}));

        const auto state = kt::fleet::readFleetState(dir.filePath("site.state"));
        ASSERT_TRUE(state.ok());
        const QList<kt::fleet::ControllerView> views =
            kt::fleet::viewsOf(fleet, *state, QDateTime::currentDateTime());
        EXPECT_EQ(views[0].state, night == 1 ? ControllerState::Changed : ControllerState::Fine);
        EXPECT_EQ(views[0].record->records, 2);
        EXPECT_EQ(views[0].record->recent.size(), night);
        EXPECT_EQ(views[1].state, ControllerState::Failing);
        EXPECT_EQ(views[1].record->outcome, JobOutcome::PortUnavailable);
        EXPECT_EQ(views[1].record->error, "cannot open /dev/ttyUSB9: no such device");
        EXPECT_EQ(views[1].record->failures, night);

        QFile metrics(fleet.settings.metrics);
        ASSERT_TRUE(metrics.open(QIODevice::ReadOnly));
        EXPECT_TRUE(
            metrics.readAll().contains("kt560ax_state{controller=\"dead\",state=\"failing\"} 1\n"));
    }
}

// A stop while a hook runs ends the hook and the run; no later hook is
// called.
TEST(FleetRun, AStopDuringAHookEndsItAndCallsNoMore) {
    QTemporaryDir dir;
    const QString program = dir.filePath("job");
    ASSERT_TRUE(kt::test::writeProgram(program, kStandIn));
    kt::fleet::Fleet fleet;
    kt::fleet::FleetController controller;
    controller.name = "north";
    controller.port = "/dev/north";
    controller.folder = dir.path();
    fleet.controllers.append(controller);
    fleet.settings.onChange = {"/bin/sh", "-c", "echo started; exec sleep 300"};
    const QString done = dir.filePath("done");
    fleet.settings.onDone = {"/bin/sh", "-c", "touch \"$0\"", done};

    struct StoppingView : kt::fleet::FleetRunView {
        kt::fleet::FleetRun* run = nullptr;
        void controllerEnded(const kt::fleet::RunResult&, int, int, int) override {}
        void retrying(int, int) override {}
        void problem(const QString&) override {}
        void hookOutput(const QString&, const QString& line) override {
            if (line == "started")
                run->stop();
        }
    } view;
    kt::fleet::FleetRun run(
        fleet,
        {.fleetFile = dir.filePath("site.ini"),
         .program = program,
         .lines = {{"a"}},
         .language = {[](const char* key) { return QString::fromLatin1(key); }}},
        view);
    view.run = &run;
    const kt::fleet::RunResult& result = runToTheEnd(run);
    EXPECT_EQ(result.status, kt::kInterrupted);
    ASSERT_EQ(result.hooks.size(), 1);
    EXPECT_EQ(result.hooks[0].toObject().value("hook").toString(), "OnChange");
    EXPECT_EQ(result.hooks[0].toObject().value("problem").toString(), "stopped by a signal");
    EXPECT_FALSE(QFile::exists(done));
}

} // namespace
