// Measures a fleet's history after years of nights: NIGHTS nights of
// CONTROLLERS controllers (200 cards each), every controller with one card
// changed each night, committed and packed as a run does. Targets: at
// most 1000 files under .git/objects, `git fsck` clean, `kt560ax history`
// of one controller at most 1 s, `kt560ax report` at most 2 s. Prints the
// repository's size, and the time of the nights and of their packings.
// (`status` of 5000 controllers: bench_fleet_state.)
//   bench_history KT560AX [NIGHTS [CONTROLLERS]]   (default 400 200)
// Needs git (Debian package git).
#include "fleet/history.h"
#include "fleet/fleet_state.h"
#include "shell/ini_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

QString name(int i) {
    return QStringLiteral("door-%1").arg(i, 3, 10, QChar(u'0'));
}

QByteArray cardLine(int slot, int night) {
    return "HA" + QByteArray::number(slot).rightJustified(4, '0') + '=' +
           QByteArray::number(night * 7919 + slot).rightJustified(10, '0') + "12340100FF00FF";
}

// A backup of 200 cards and 459 other records, as a controller's first.
QByteArray firstBackup(int controller) {
    QByteArray text = "[HEAD]\r\nTitle=KT560AX\r\nComplete=1\r\n[Data]\r\n";
    for (int i = 0; i < 459; ++i)
        text += "R" + QByteArray::number(i).rightJustified(4, '0') + '=' +
                QByteArray::number(qHash(controller * 1000 + i)).repeated(2).left(24) + "\r\n";
    for (int slot = 1; slot <= 200; ++slot)
        text += cardLine(slot, 0) + "\r\n";
    return text;
}

bool put(const QString& file, const QByteArray& bytes) {
    QFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

double seconds(const QElapsedTimer& clock) {
    return clock.nsecsElapsed() / 1e9;
}

// Runs a program in `folder`; its exit status, and its time in `took`.
int run(const QString& program, const QStringList& arguments, const QString& folder, double* took) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    process.waitForFinished(600000);
    *took = seconds(clock);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_history KT560AX [NIGHTS [CONTROLLERS]]\n");
        return 1;
    }
    const QString program = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const int nights = argc > 2 ? std::atoi(argv[2]) : 400;
    const int controllers = argc > 3 ? std::atoi(argv[3]) : 200;
    QTemporaryDir dir;
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("KT_BENCH_KEEP"));
    const QString fleetFile = dir.filePath("campus.ini");
    QByteArray text = "[fleet]\nHistory=history\n";
    for (int i = 0; i < controllers; ++i)
        text += "[" + name(i).toUtf8() + "]\nPort=tcp://10.0.0.1:" + QByteArray::number(4000 + i) +
                "\nCards=200\n";
    QList<QByteArray> backups;
    for (int i = 0; i < controllers; ++i)
        backups.append(firstBackup(i));
    if (!put(fleetFile, text) || !QDir().mkpath(dir.filePath("b")))
        return 1;

    kt::fleet::History history;
    if (!history.open(dir.filePath("history"), kt::fleet::History::Mode::Write))
        return 1;
    kt::fleet::FleetState state;
    double packing = 0;
    int packs = 0;
    QElapsedTimer all;
    all.start();
    for (int night = 1; night <= nights; ++night) {
        QStringList lines{QStringLiteral("%1 controllers changed, 0 failed").arg(controllers), {}};
        for (int i = 0; i < controllers; ++i) {
            const int slot = 1 + (night * 31 + i) % 200;
            QByteArray& backup = backups[i];
            const qsizetype at = backup.indexOf(cardLine(slot, 0).left(7));
            backup.replace(at, cardLine(slot, night).size(), cardLine(slot, night));
            const QString file = dir.filePath("b/" + name(i) + ".KT");
            if (!put(file, backup) || !history.stage(name(i), file))
                return 1;
            lines.append(name(i) +
                         QStringLiteral(": UserCardDatabase; cards changed 1 (%1)").arg(slot));
            kt::fleet::ControllerRecord& r = state.controllers[name(i)];
            r.outcome = kt::engine::JobOutcome::Finished;
            r.lastTry = r.lastCompleteAt = QDateTime::currentDateTime();
            r.readsCards = r.changed = true;
            r.cards = 200;
            r.records = 659;
        }
        if (!history.commit(lines.join(u'\n') + u'\n'))
            return 1;
        QElapsedTimer clock;
        clock.start();
        const kt::shell::Result<kt::fleet::HistoryPack> packed = history.pack();
        if (!packed) {
            std::fprintf(stderr, "%s\n", qPrintable(packed.error().message));
            return 1;
        }
        if (packed->packed > 0) {
            packing += seconds(clock);
            ++packs;
        }
    }
    const double made = seconds(all);
    state.lastRun = QDateTime::currentDateTime();
    if (!kt::fleet::writeFleetState(kt::fleet::statePathOf(fleetFile), state))
        return 1;

    qint64 files = 0, bytes = 0;
    for (QDirIterator it(dir.filePath("history/.git"), QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        bytes += it.fileInfo().size();
        files += path.contains("/.git/objects/") ? 1 : 0;
    }
    std::printf("%d nights of %d controllers, each with a card changed: %.1f s, of which %d "
                "packings %.1f s (%.1f s each on average)\n",
                nights, controllers, made, packs, packing, packs ? packing / packs : 0.0);
    std::printf("files under .git/objects: %lld (target <= 1000)\n", qlonglong(files));
    std::printf(".git: %.1f MiB\n", bytes / 1048576.0);
    double took = 0;
    const int fsck =
        run("git", {"-C", "history", "fsck", "--full", "--no-dangling"}, dir.path(), &took);
    std::printf("git fsck --full: exit status %d (target 0), %.1f s\n", fsck, took);
    const int versions =
        run(program, {"history", fleetFile, name(controllers / 2)}, dir.path(), &took);
    std::printf("kt560ax history of one controller: %.3f s (target <= 1), exit status %d\n", took,
                versions);
    const int report =
        run(program, {"report", fleetFile, "-o", dir.filePath("page.html")}, dir.path(), &took);
    std::printf("kt560ax report: %.3f s (target <= 2), exit status %d\n", took, report);
    return 0;
}
