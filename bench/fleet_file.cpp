// Times the reading of a fleet file of 100,000 controllers, far more than
// any site has: the parse, and with the program `kt560ax status` as a
// whole. Target: each at most 2 s.
//   bench_fleet_file [KT560AX]
#include "fleet/fleet_file.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

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
    QTemporaryDir dir;
    QFile out(dir.filePath("big.ini"));
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
        return 1;
    out.close();
    QProcess status;
    status.setStandardOutputFile(QProcess::nullDevice());
    clock.restart();
    status.start(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath(),
                 {"status", out.fileName()});
    status.waitForFinished(300000);
    std::printf("kt560ax status (the whole program)          %7.3f s (target 2 s), exit %d\n",
                clock.nsecsElapsed() / 1e9, status.exitCode());
    return 0;
}
