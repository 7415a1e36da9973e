// The state model of a fleet's controllers, its state file, its metrics,
// and the hooks a run calls.
#include "fleet/fleet_state.h"
#include "fleet/hooks.h"
#include "fleet/metrics.h"
#include "support/printers.h"
#include "support/process_gone.h"
#include "support/system_paths.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <array>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// Runs a hook to its end, with what it prints in `said`; `stopAtOnce`
// stops it as soon as it has started.
kt::shell::Status runHook(const QStringList& command, const kt::fleet::Variables& variables,
                          QStringList* said = nullptr, int seconds = kt::fleet::kHookSeconds,
                          bool stopAtOnce = false) {
    QStringList unread;
    kt::fleet::Hook hook(
        command, variables, [&](const QString& line) { (said ? *said : unread).append(line); },
        seconds);
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

// Which state applies when several could: unknown, failing, suspicious,
// never backed up, stale (old, or "made in the future"), changed, fine.
TEST(FleetState, OneStateForEachRecordByItsPrecedence) {
    using O = JobOutcome;
    using S = ControllerState;
    const QDateTime now = QDateTime::currentDateTime();
    const double none = -1e9;
    const auto record = [&](O outcome, double hoursAgo, bool changed = false) {
        ControllerRecord r;
        r.outcome = outcome;
        if (hoursAgo != none) {
            r.lastComplete = "/b/x.KT";
            r.lastCompleteAt = now.addSecs(-qint64(hoursAgo * 3600));
        }
        r.changed = changed;
        return r;
    };
    const auto collapsed = [&](O outcome, double hoursAgo) {
        ControllerRecord r = record(outcome, hoursAgo, true);
        r.suspicious = true;
        return r;
    };
    // A record, its state, and whether its clock is ahead.
    const std::tuple<const char*, std::optional<ControllerRecord>, S, bool> cases[] = {
        {"nothing recorded", std::nullopt, S::Unknown, false},
        {"failed, with an old backup", record(O::NoAnswer, 100), S::Failing, false},
        {"failed, never backed up", record(O::PortUnavailable, none), S::Failing, false},
        {"stopped", record(O::Cancelled, 1), S::Failing, false},
        {"failed after a collapse", collapsed(O::NoAnswer, 1), S::Failing, false},
        {"collapsed", collapsed(O::Finished, 1), S::Suspicious, false},
        {"collapsed, and older than MaxAge", collapsed(O::Finished, 27), S::Suspicious, false},
        {"finished, but its backup is gone", record(O::Finished, none), S::NeverBackedUp, false},
        {"older than MaxAge", record(O::Finished, 27), S::Stale, false},
        {"made in 2099", record(O::Finished, -(2099 - 2026) * 8760.0, true), S::Stale, true},
        {"two minutes ahead: a drift", record(O::Finished, -0.033, true), S::Changed, false},
        {"changed in its last run", record(O::Finished, 25, true), S::Changed, false},
        {"fresh", record(O::Finished, 1), S::Fine, false},
    };
    kt::fleet::FleetController controller;
    controller.name = "north";
    for (const auto& [name, stored, state, clockAhead] : cases) {
        SCOPED_TRACE(name);
        const kt::fleet::ControllerView view =
            kt::fleet::viewOf(controller, stored ? &*stored : nullptr, 26 * 3600, now);
        EXPECT_EQ(view.state, state);
        EXPECT_EQ(view.clockAhead, clockAhead);
        EXPECT_TRUE(!clockAhead || view.ageSeconds == -1)
            << "an age, and a metric, from the future";
    }
}

// The state file is what every account reads: it must come back as it was
// written, be private, and say so when it is not a state at all.
TEST(FleetState, TheStateFileReadsBackAndRefusesWhatIsNoState) {
    QTemporaryDir dir;
    const QString path = kt::fleet::statePathOf(dir.filePath("site.ini"));
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
    r.lastGood = {"/b/north/2026-12-01_023000.KT",
                  state.lastRun.addDays(-6),
                  {{{"UserCardDatabase", 40}, {"HolidayTable", 2}}, {}}};
    r.suspicious = true;
    r.emptied = {"HolidayTable"};
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
    EXPECT_EQ(std::tuple(n.lastGood.file, n.lastGood.at, n.lastGood.held.byCategory),
              std::tuple(r.lastGood.file, r.lastGood.at, r.lastGood.held.byCategory));
    EXPECT_EQ(std::pair(n.suspicious, n.emptied), std::pair(true, r.emptied));
    EXPECT_EQ(n.recent.size(), kt::fleet::kRecentRuns);
    EXPECT_EQ(n.recent.last().at, r.recent.last().at); // the newest are kept
    // A fleet keeps only its own controllers' records, whatever the file holds.
    kt::fleet::Fleet south;
    south.controllers.append(kt::fleet::FleetController());
    south.controllers[0].name = "south";
    EXPECT_TRUE(kt::fleet::readFleetState(path, &south)->controllers.empty());

    // Whatever is broken, and wherever: also in a record the fleet does not keep.
    for (const QByteArray& junk : {
             QByteArray("[1,2]"),
             QByteArray("{\"controllers\":"),
             QByteArray("\xff\xfe garbage"),
             QByteArray("{\"controllers\":{\"north\":{}}} and more"),
             QByteArray("{\"controllers\":{\"north\":5}}"),
             QByteArray("{\"controllers\":{\"north\":{\"port\":\"COM1}}}"),
             QByteArray("{\"controllers\":{\"north\":{\"port\":COM1}}}"),
             QByteArray("{\"controllers\":{north:{}}}"),
             QByteArray("{\"controllers\":{\"north\":{}},}"),
             QByteArray("{\"lastRun\":\"x\" \"controllers\":{}}"),
             QByteArray("{\"controllers\":[]}"),
         }) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(junk) > 0);
        file.close();
        for (const kt::fleet::Fleet* of : std::array<const kt::fleet::Fleet*, 2>{nullptr, &south}) {
            const auto read = kt::fleet::readFleetState(path, of);
            ASSERT_FALSE(read.ok()) << junk.constData();
            EXPECT_TRUE(read.error().message.contains(path));
        }
    }

#ifndef Q_OS_WIN
    // A sound state that others may write, or reached through a link, could
    // have been planted: it is not believed.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(kt::fleet::writeFleetState(dir.filePath("elsewhere.state"), state).ok());
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere.state"), path));
    EXPECT_EQ(kt::fleet::readFleetState(path).error().code, kt::shell::ErrorCode::Untrusted);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(kt::fleet::writeFleetState(path, state).ok());
    QFile::setPermissions(path, QFile::Permissions(0x6666));
    const auto planted = kt::fleet::readFleetState(path);
    ASSERT_FALSE(planted.ok());
    EXPECT_TRUE(planted.error().message.contains("not believed"))
        << planted.error().message.toStdString();
#endif
}

// Every series names its fleet, so that two fleets' files in one textfile
// folder never give the same series; the last push that went through is
// given unless it lies ahead.
TEST(Metrics, EverySeriesNamesItsFleetAndNoTimeLiesAhead) {
    const QDateTime now = QDateTime::currentDateTime();
    kt::fleet::Fleet fleet;
    fleet.controllers.append(kt::fleet::FleetController());
    fleet.controllers[0].name = "north";
    kt::fleet::FleetState state;
    state.lastRun = now.addSecs(-60);
    state.controllers["north"].outcome = JobOutcome::Finished;
    const struct {
        QDateTime pushed;
        bool given;
    } cases[] = {{{}, false}, {now.addSecs(-3600), true}, {now.addDays(1), false}};
    // The fleet's name as the file would give it, escaped as a label value.
    const QByteArray label = R"({fleet="site \"b\"\\")";
    for (const auto& c : cases) {
        state.lastPushSuccess = c.pushed;
        const QByteArray text = kt::fleet::metricsText(
            R"(site "b"\)", kt::fleet::viewsOf(fleet, state, now), state, now);
        int series = 0;
        for (const QByteArray& line : text.split('\n'))
            if (!line.isEmpty() && !line.startsWith('#')) {
                ++series;
                EXPECT_TRUE(line.contains(label)) << line.constData();
            }
        EXPECT_GE(series, 12);
        EXPECT_EQ(text.contains("kt560ax_last_push_success_timestamp_seconds" + label + "} " +
                                QByteArray::number(c.pushed.toSecsSinceEpoch()) + '\n'),
                  c.given);
    }
}

// A fleet file or a state over its limit is refused before it is read,
// and the message names that limit.
TEST(FleetState, AFileOverItsLimitNamesThatLimit) {
    QTemporaryDir dir;
    const QString fleetFile = dir.filePath("site.ini");
    const auto sized = [](const QString& path, qint64 size) {
        QFile file(path); // a sparse file: nothing is written
        return file.open(QIODevice::WriteOnly) && file.resize(size);
    };
    ASSERT_TRUE(sized(fleetFile, kt::fleet::kMaxFleetBytes + 1));
    EXPECT_TRUE(kt::fleet::readFleetFile(fleetFile).error().message.contains("(over 4 MB)"))
        << kt::fleet::readFleetFile(fleetFile).error().message.toStdString();
    QFile small(fleetFile);
    ASSERT_TRUE(small.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                small.write("[a]\nPort=COM1\n") > 0);
    small.close();
    ASSERT_TRUE(sized(kt::fleet::statePathOf(fleetFile), 256LL * 1024 * 1024 + 1));
    const auto loaded = kt::fleet::loadFleet(fleetFile);
    ASSERT_TRUE(loaded.ok());
    EXPECT_TRUE(loaded->stateProblem.contains("(over 256 MB)"))
        << loaded->stateProblem.toStdString();
}

// A hook gets the details of a run of 5000 controllers with long folders
// (each variable bounded, every controller in the list's file) and its
// arguments, hands on each line it prints, and ends, with all it started,
// at its limit or a stop.
TEST(Hooks, RunWithTheirVariablesWithinTheirTimeAndSayWhyTheyFailed) {
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
    const auto sh = [](const char* script, const QStringList& more = {}) {
        return QStringList{"/bin/sh", "-c", script} + more;
    };
    QStringList said; // a last line without its newline too
    const kt::shell::Status ran = runHook(
        sh("wc -l <\"$KT560AX_LIST\"; tail -1 \"$KT560AX_LIST\"; printf '\\n%s' \"$0\"", {"a b"}),
        details.variables, &said);
    ASSERT_TRUE(ran.ok()) << ran.error().message.toStdString();
    ASSERT_EQ(said.size(), 4) << said.join('\n').toStdString();
    EXPECT_EQ(said[0].trimmed(), "5000");
    EXPECT_EQ(said[1].split('\t').value(0), "door-4999");
    EXPECT_EQ(said[1].split('\t').value(5), "11 tries, no reply");
    EXPECT_EQ(said.mid(2), (QStringList{"", "a b"}));

    QTemporaryDir dir;
    const QString pidFile = dir.filePath("pid");
    const struct {
        QStringList command;
        int seconds;
        bool stopAtOnce;
        QString problem;
    } failures[] = {
        {sh("exit 3"), 1, false, "exit status 3"},
        {sh("sleep 30"), 1, false, "stopped after 1 s"},
        {sh("kill -9 $$"), 1, false, "ended by a signal"},
        {{dir.filePath("missing")}, 1, false, dir.filePath("missing") + " could not be started"},
        {sh("sleep 30"), 60, true, "stopped by a signal"},
        // What the hook started goes too; its pid is checked below.
        {sh("sleep 302 & echo $! >\"$0\"; wait", {pidFile}), 1, false, "stopped after 1 s"},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.command.join(' ').toStdString());
        QElapsedTimer took;
        took.start();
        const kt::shell::Status run = runHook(c.command, {}, nullptr, c.seconds, c.stopAtOnce);
        ASSERT_FALSE(run.ok());
        EXPECT_TRUE(run.error().message.startsWith(c.problem)) << run.error().message.toStdString();
        EXPECT_LT(took.elapsed(), 20000); // not the 30 s of its sleep, nor the 60 of its limit
    }
    QFile pid(pidFile);
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    const pid_t child = pid_t(pid.readAll().trimmed().toInt());
    ASSERT_GT(child, 0);
    // The group was killed: its last process ends as soon as the system
    // gets to it, however busy it is; a minute is only a backstop.
    QElapsedTimer waited;
    waited.start();
    bool gone = false;
    while (!(gone = kt::test::processGone(child)) && waited.elapsed() < 60000)
        QThread::msleep(10);
    EXPECT_TRUE(gone) << "sleep " << child << " outlived its hook";
    if (!gone)
        ::kill(child, SIGKILL);
}

} // namespace
