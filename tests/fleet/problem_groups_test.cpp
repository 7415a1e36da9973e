// The grouping of the controllers that need someone, which the run,
// status, the report page and the hooks share.
#include "fleet/problem_groups.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::engine::JobOutcome;
using kt::fleet::ControllerState;
using kt::fleet::Problem;

Problem failed(const QString& name, JobOutcome outcome, const QString& port,
               const QString& folder = {}) {
    return {name, ControllerState::Failing, outcome, port, folder, name + ": alone"};
}

Problem in(const QString& name, ControllerState state) {
    return {name, state, JobOutcome::Finished, "/dev/ttyS0", {}, name + ": alone"};
}

constexpr char kServer[] = " — check that the device server is on and that Port= names it";

TEST(ProblemGroups, OneLineForEachCauseAndPlaceThenEachControllerAlone) {
#ifdef _WIN32
    GTEST_SKIP() << "its controllers hang off POSIX device paths";
#endif
    QTemporaryDir dir;
    const QString device = dir.filePath("ttyUSB0");
    ASSERT_TRUE(QFile(device).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(device, dir.filePath("by-id")));
    QList<Problem> refused;
    for (int i = 1; i <= 25; ++i)
        refused.append(failed(QStringLiteral("c%1").arg(i), JobOutcome::ServerClosed,
                              QStringLiteral("tcp://127.0.0.1:%1").arg(4000 + i)));
    QStringList listed;
    for (int i = 1; i <= 20; ++i)
        listed.append(QStringLiteral("c%1").arg(i));

    const struct {
        const char* name;
        QList<Problem> problems;
        QStringList lines;
    } cases[] = {
        {"a server by its host, whatever its ports, members past 20 counted",
         refused,
         {"server refused: tcp://127.0.0.1 (25 controllers: " + listed.join(", ") +
          " … and 5 more)" + kServer}},
        {"one server port however it is spelt",
         {failed("gw-b", JobOutcome::ServerClosed, "socket://10.0.0.7:4001"),
          failed("gw-a", JobOutcome::ServerClosed, "TCP://10.0.0.7:4001/")},
         {QStringLiteral("server refused: tcp://10.0.0.7:4001 (2 controllers: gw-a, gw-b)") +
          kServer}},
        {"one place, two outcomes: each alone",
         {failed("a", JobOutcome::ServerClosed, "tcp://gw:4001"),
          failed("b", JobOutcome::PortLost, "tcp://gw:4002")},
         {"a: alone", "b: alone"}},
        {"a device by its resolved path",
         {failed("bus-a", JobOutcome::NoAnswer, dir.filePath("by-id")),
          failed("bus-b", JobOutcome::NoAnswer, device)},
         {"no answer: " + device +
          " (2 controllers: bus-a, bus-b) — check Address= (the Controller ID), the cable and "
          "the port's settings"}},
        {"COMn in any letter case",
         {failed("com-a", JobOutcome::PortUnavailable, "com3"),
          failed("com-b", JobOutcome::PortUnavailable, "COM3")},
         {"port unavailable: COM3 (2 controllers: com-a, com-b)"}},
        {"a file error by its folder, not its port",
         {failed("disk-a", JobOutcome::FileError, "/dev/ttyS1", "/srv/b"),
          failed("disk-b", JobOutcome::FileError, "/dev/ttyS2", "/srv/b"),
          failed("disk-c", JobOutcome::FileError, "/dev/ttyS1", "/srv/c")},
         {"file error: /srv/b (2 controllers: disk-a, disk-b)", "disk-c: alone"}},
        {"stopped, stale, unknown: by their word alone",
         {failed("s1", JobOutcome::Cancelled, "/dev/ttyS1"),
          failed("s2", JobOutcome::Cancelled, "/dev/ttyS2"), in("old-10", ControllerState::Stale),
          in("old-2", ControllerState::Stale), in("new", ControllerState::Unknown)},
         {"stopped (2 controllers: s1, s2)", "stale (2 controllers: old-2, old-10)", "new: alone"}},
        {"groups by state and size, then each alone by state and name",
         {in("wiped", ControllerState::Suspicious), in("x-2", ControllerState::Stale),
          in("x-1", ControllerState::Stale), in("y-1", ControllerState::Suspicious),
          in("y-2", ControllerState::Suspicious), in("y-3", ControllerState::Suspicious),
          failed("door-10", JobOutcome::NoAnswer, "/dev/ttyX10"),
          failed("door-2", JobOutcome::NoAnswer, "/dev/ttyX2"),
          in("never", ControllerState::NeverBackedUp)},
         {"suspicious (4 controllers: wiped, y-1, y-2, y-3)", "stale (2 controllers: x-1, x-2)",
          "door-2: alone", "door-10: alone", "never: alone"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList lines = kt::fleet::problemLines(kt::fleet::groupProblems(c.problems));
        EXPECT_EQ(lines.join('\n').toStdString(), c.lines.join('\n').toStdString());
    }
}

} // namespace
