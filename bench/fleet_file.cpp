// Times the reading of a fleet file of 100,000 controllers, far more than
// any site has, and measures what `kt560ax status` costs with a state of a
// million controllers beside a fleet of one and beside that large fleet.
// Target: each at most 2 s; the peak memory of a status near the state
// file's size (its text) plus that of the records it keeps.
//   bench_fleet_file [KT560AX]
#include "fleet/fleet_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

bool write(const QString& path, const QByteArray& text) {
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(text) == text.size();
}

// Runs `kt560ax status FLEET` and prints its time and, as the system counted
// it for the largest child so far, its peak memory.
void status(const QString& program, const QString& fleet, const char* what) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, {"status", fleet});
    process.waitForFinished(300000);
    rusage usage = {};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("kt560ax status, %-34s %7.3f s (target 2 s), exit %d, peak so far %ld MB\n", what,
                clock.nsecsElapsed() / 1e9, process.exitCode(), usage.ru_maxrss / 1024);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr int kControllers = 100000;
    QByteArray text = "[fleet]\nRetries=1\n";
    // Within the size a fleet file may have.
    for (int i = 0; i < kControllers; ++i)
        text += "[d" + QByteArray::number(i) + "]\nPort=tcp://gw-" + QByteArray::number(i % 250) +
                ":4001\n";
    QElapsedTimer clock;
    clock.start();
    const auto fleet = kt::fleet::parseFleet(text, "big.ini", "/tmp");
    std::printf("parse of %d controllers (%lld bytes)   %7.3f s (target 2 s)\n",
                int(fleet ? fleet->controllers.size() : -1), qlonglong(text.size()),
                clock.nsecsElapsed() / 1e9);
    if (argc < 2)
        return fleet ? 0 : 1;
    const QString program = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QTemporaryDir dir;
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("KT_BENCH_KEEP"));
    if (!write(dir.filePath("big.ini"), text) ||
        !write(dir.filePath("one.ini"), "[d1]\nPort=COM1\n"))
        return 1;
    status(program, dir.filePath("big.ini"), "100,000 controllers, no state");

    // A state of a million controllers, each record as short as a run
    // writes one, indented as it writes it; written as it is made, so that
    // this program stays small (a child starts as large as its parent).
    QFile state(dir.filePath("one.state"));
    if (!state.open(QIODevice::WriteOnly))
        return 1;
    state.write("{\n    \"controllers\": {\n");
    for (int i = 0; i < 1000000; ++i)
        state.write("        \"d" + QByteArray::number(i) +
                    "\": {\n            \"lastTry\": \"2026-12-06T02:00:00+01:00\",\n"
                    "            \"outcome\": \"finished\",\n            \"port\": \"COM1\"\n"
                    "        }" +
                    (i + 1 < 1000000 ? ",\n" : "\n"));
    state.write("    },\n    \"format\": 1,\n    \"lastRun\": \"2026-12-06T02:00:00+01:00\"\n}\n");
    state.close();
    if (!state.copy(dir.filePath("big.state")))
        return 1;
    std::printf("a state of a million controllers: %lld MB\n",
                qlonglong(state.size() / (1024 * 1024)));
    status(program, dir.filePath("one.ini"), "a fleet of 1 with that state");
    status(program, dir.filePath("big.ini"), "100,000 controllers, that state");
    return 0;
}
