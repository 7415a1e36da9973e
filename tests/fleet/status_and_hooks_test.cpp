// The state model of a fleet's controllers, its state file, and the hooks
// a run calls.
#include "engine/backup_file.h"
#include "fleet/fleet_state.h"
#include "fleet/hooks.h"
#include "shell/ini_file.h"
#include "support/printers.h"
#include "support/system_paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// A process that ended but was not yet reaped.
bool isZombie(pid_t pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    return stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z ");
}

// Runs a hook to its end; `stopAtOnce` stops it as soon as it has started.
kt::shell::Status runHook(const QStringList& command, const kt::fleet::Variables& variables,
                          const std::function<void(const QString&)>& output,
                          int seconds = kt::fleet::kHookSeconds, bool stopAtOnce = false) {
    kt::fleet::Hook hook(command, variables, output, seconds);
    QSignalSpy ended(&hook, &kt::fleet::Hook::ended);
    hook.start();
    if (stopAtOnce)
        hook.stop();
    EXPECT_TRUE(ended.wait(120000)) << "the hook did not end";
    EXPECT_EQ(ended.size(), 1);
    return hook.result();
}

using kt::engine::JobOutcome;
using kt::fleet::ControllerRecord;
using kt::fleet::ControllerState;

// Which state applies when several could: unknown, failing, never backed
// up, stale (old, or "made in the future"), changed, fine.
TEST(FleetState, OneStateForEachRecordByItsPrecedence) {
    const QDateTime now = QDateTime::currentDateTime();
    const double none = -1e9;
    const auto record = [&](JobOutcome outcome, double hoursAgo, bool changed = false) {
        ControllerRecord r;
        r.outcome = outcome;
        if (hoursAgo != none) {
            r.lastComplete = "/b/x.KT";
            r.lastCompleteAt = now.addSecs(-qint64(hoursAgo * 3600));
        }
        r.changed = changed;
        return r;
    };
    struct Case {
        const char* name;
        std::optional<ControllerRecord> record;
        ControllerState state;
        bool clockAhead;
    };
    const Case cases[] = {
        {"nothing recorded", std::nullopt, ControllerState::Unknown, false},
        {"failed, with an old backup", record(JobOutcome::NoAnswer, 100), ControllerState::Failing,
         false},
        {"failed, never backed up", record(JobOutcome::PortUnavailable, none),
         ControllerState::Failing, false},
        {"stopped", record(JobOutcome::Cancelled, 1), ControllerState::Failing, false},
        {"finished, but its backup is gone", record(JobOutcome::Finished, none),
         ControllerState::NeverBackedUp, false},
        {"older than MaxAge", record(JobOutcome::Finished, 27), ControllerState::Stale, false},
        {"made in 2099", record(JobOutcome::Finished, -(2099 - 2026) * 8760.0, true),
         ControllerState::Stale, true},
        {"two minutes ahead is a clock's drift", record(JobOutcome::Finished, -0.033, true),
         ControllerState::Changed, false},
        {"changed in its last run", record(JobOutcome::Finished, 25, true),
         ControllerState::Changed, false},
        {"fresh", record(JobOutcome::Finished, 1), ControllerState::Fine, false},
    };
    kt::fleet::FleetController controller;
    controller.name = "north";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const kt::fleet::ControllerView view =
            kt::fleet::viewOf(controller, c.record ? &*c.record : nullptr, 26 * 3600, now);
        EXPECT_EQ(view.state, c.state);
        EXPECT_EQ(view.clockAhead, c.clockAhead);
        EXPECT_EQ(view.fine(),
                  c.state == ControllerState::Changed || c.state == ControllerState::Fine);
        if (c.clockAhead) {
            EXPECT_EQ(view.ageSeconds, -1); // no age, and no metric, from the future
        }
    }
}

// The state file is what every account reads: it must come back as it was
// written, be private, and say so when it is not a state at all.
TEST(FleetState, TheStateFileReadsBackAndRefusesWhatIsNoState) {
    QTemporaryDir dir;
    const QString path = kt::fleet::statePathOf(dir.filePath("site.ini"));
    EXPECT_EQ(path, dir.filePath("site.state"));
    ASSERT_TRUE(kt::fleet::readFleetState(path).ok()); // none yet: empty

    kt::fleet::FleetState state;
    state.lastRun = QDateTime::fromString("2026-12-07T02:31:00+01:00", Qt::ISODate);
    ControllerRecord r;
    r.outcome = JobOutcome::ServerClosed;
    r.error = "tcp://gw:4001: connection refused";
    r.failures = 3;
    r.lastComplete = "/b/north/2026-12-06_023000.KT";
    r.lastCompleteAt = state.lastRun.addDays(-1);
    r.readsCards = true;
    r.cards = 21;
    for (int i = 0; i < kt::fleet::kRecentRuns + 3; ++i)
        r.recent.append({state.lastRun.addDays(-i), JobOutcome::Finished, i == 0});
    state.controllers["north"] = r;
    ASSERT_TRUE(kt::fleet::writeFleetState(path, state).ok());
    EXPECT_EQ(kt::test::othersMay(path), QFile::Permissions());

    const kt::shell::Result<kt::fleet::FleetState> back = kt::fleet::readFleetState(path);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->lastRun, state.lastRun);
    const ControllerRecord& n = back->controllers.at("north");
    EXPECT_EQ(n.outcome, JobOutcome::ServerClosed);
    EXPECT_EQ(n.error, r.error);
    EXPECT_EQ(n.failures, 3);
    EXPECT_EQ(n.lastCompleteAt, r.lastCompleteAt);
    EXPECT_EQ(n.cards, 21);
    EXPECT_EQ(n.recent.size(), kt::fleet::kRecentRuns);
    EXPECT_EQ(n.recent.last().at, r.recent.last().at); // the newest are kept

    for (const QByteArray& junk :
         {QByteArray("[1,2]"), QByteArray("{\"controllers\":"), QByteArray("\xff\xfe garbage")}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(junk);
        file.close();
        const auto read = kt::fleet::readFleetState(path);
        EXPECT_FALSE(read.ok()) << junk.constData();
        if (!read.ok()) {
            EXPECT_TRUE(read.error().message.contains(path));
        }
    }
}

TEST(Hooks, RunWithTheirVariablesWithinTheirTimeAndSayWhyTheyFailed) {
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    const kt::shell::Status ran = runHook(
        {"/bin/sh", "-c", "printf '%s|%s' \"$KT560AX_CONTROLLER\" \"$1\" >\"$0\"", out, "a b"},
        {{"KT560AX_CONTROLLER", "north"}}, [](const QString&) {});
    EXPECT_TRUE(ran.ok()) << ran.error().message.toStdString();
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "north|a b");

    // What it prints is handed on line by line, a last line without its
    // newline too.
    QStringList said;
    const kt::shell::Status talked = runHook({"/bin/sh", "-c", "printf 'one\\ntwo\\n\\nthree'"}, {},
                                             [&said](const QString& line) { said.append(line); });
    EXPECT_TRUE(talked.ok());
    EXPECT_EQ(said, (QStringList{"one", "two", "", "three"}));

    const std::pair<QStringList, QString> failures[] = {
        {{"/bin/sh", "-c", "exit 3"}, "exit status 3"},
        {{"/bin/sh", "-c", "sleep 10"}, "stopped after 1 s"},
        {{"/bin/sh", "-c", "kill -9 $$"}, "ended by a signal"},
        {{dir.filePath("missing")}, dir.filePath("missing") + " could not be started"},
    };
    for (const auto& [command, problem] : failures) {
        const kt::shell::Status run = runHook(
            command, {}, [](const QString&) {}, 1);
        ASSERT_FALSE(run.ok());
        EXPECT_TRUE(run.error().message.startsWith(problem)) << run.error().message.toStdString();
    }
    // A signal to the run stops the hook at once.
    QElapsedTimer took;
    took.start();
    const kt::shell::Status stopped = runHook(
        {"/bin/sh", "-c", "sleep 10"}, {}, [](const QString&) {}, 60, true);
    EXPECT_EQ(stopped.error().message, "stopped by a signal");
    EXPECT_LT(took.elapsed(), 5000);

    // The limit ends what the hook started too.
    const QString pidFile = dir.filePath("pid");
    const kt::shell::Status forked = runHook(
        {"/bin/sh", "-c", "sleep 302 & echo $! >\"$0\"; wait", pidFile}, {}, [](const QString&) {},
        1);
    EXPECT_EQ(forked.error().message, "stopped after 1 s");
    QFile pid(pidFile);
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    const pid_t child = pid_t(pid.readAll().trimmed().toInt());
    ASSERT_GT(child, 0);
    // The group was killed: its last process ends as soon as the system
    // gets to it, however busy it is; a minute is only a backstop.
    QElapsedTimer waited;
    waited.start();
    bool gone = false;
    while (!(gone = ::kill(child, 0) != 0 || isZombie(child)) && waited.elapsed() < 60000)
        QThread::msleep(10);
    EXPECT_TRUE(gone) << "sleep " << child << " outlived its hook";
    if (!gone)
        ::kill(child, SIGKILL);
}

// A run of 5000 controllers with long folders still starts its hooks: each
// variable is bounded, and the list of every controller is in a file.
TEST(Hooks, DetailsOfThousandsOfControllersStayWithinWhatAProgramCanBeGiven) {
    QList<kt::fleet::HookEntry> entries;
    for (int i = 0; i < 5000; ++i)
        entries.append({QString("door-%1").arg(i), "tcp://gateway:4001", "1",
                        "/var/lib/kt560ax/backups/a/rather/long/folder/name/for/each/controller/"
                        "2026-12-07_023000.KT",
                        "no-answer", "11 tries,\tno reply"});
    const kt::fleet::HookDetails details =
        kt::fleet::hookDetails(entries, {{"KT560AX_SUMMARY", QString(200000, u'x')}});
    qsizetype total = 0;
    for (const auto& [name, value] : details.variables) {
        EXPECT_LE(value.toUtf8().size(), 16 * 1024) << name.toStdString();
        total += value.toUtf8().size();
    }
    EXPECT_LT(total, 128 * 1024);
    QTemporaryDir dir;
    const QString out = dir.filePath("out");
    const kt::shell::Status ran =
        runHook({"/bin/sh", "-c",
                 "wc -l <\"$KT560AX_LIST\" >\"$0\"; tail -1 \"$KT560AX_LIST\" >>\"$0\"", out},
                details.variables, [](const QString&) {});
    ASSERT_TRUE(ran.ok()) << ran.error().message.toStdString();
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    EXPECT_EQ(lines.value(0).trimmed(), "5000");
    EXPECT_EQ(lines.value(1).split('\t').value(0), "door-4999");
    EXPECT_EQ(lines.value(1).split('\t').value(5), "11 tries, no reply");
}

} // namespace
