// Times what status, the report and the metrics cost for a large fleet:
// 5000 controllers, each with a recorded try (ten recent runs) and a
// version in a history of two commits, one in ten failing (the problems
// that status --problems and the report's head group). Target: status at
// most 1 s, the others at most 2 s. And the size of the report page: on a usual night (1
// controller in 100 failing, 1 in 50 changed) at most 1 MB, since fine
// controllers take a short row each in a list that opens from their count.
//   bench_fleet_state [KT560AX]   with the program, its status and report
//                                 commands are timed as a whole too
#include "fleet/fleet_state.h"
#include "engine/backup_file.h"
#include "fleet/history.h"
#include "fleet/metrics.h"
#include "fleet/report_page.h"
#include "shell/ini_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

namespace {

constexpr int kControllers = 5000;

void timed(const char* what, const std::function<void()>& work, int targetSeconds = 2) {
    QElapsedTimer clock;
    clock.start();
    work();
    std::printf("%-40s %7.3f s (target %d s)\n", what, clock.nsecsElapsed() / 1e9, targetSeconds);
}

QString name(int i) {
    return QStringLiteral("door-%1").arg(i, 4, 10, QChar(u'0'));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("KT_BENCH_KEEP"));
    const QString fleetFile = dir.filePath("big.ini");
    QByteArray text = "[fleet]\nHistory=history\n";
    for (int i = 0; i < kControllers; ++i)
        text += "[" + name(i).toUtf8() +
                "]\nPort=tcp://10.0.0.1:" + QByteArray::number(4000 + i % 100) +
                "\nAddress=" + QByteArray::number(1 + i % 99) + "\nOnly=system,cards\nCards=200\n";
    QFile out(fleetFile);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
        return 1;
    out.close();

    // Two versions of each controller, made as a run makes them.
    const QDateTime now = QDateTime::currentDateTime();
    kt::fleet::History history;
    if (!history.open(dir.filePath("history"), kt::fleet::History::Mode::Write))
        return 1;
    kt::fleet::FleetState state;
    state.lastRun = now;
    for (int version = 1; version <= 2; ++version) {
        QStringList lines{QStringLiteral("%1 controllers changed, 0 failed").arg(kControllers), {}};
        for (int i = 0; i < kControllers; ++i) {
            const QString file = dir.filePath(QStringLiteral("b/") + name(i) + u'/' +
                                              QString::number(version) + ".KT");
            QDir().mkpath(QFileInfo(file).absolutePath());
            if (!kt::shell::WriteIniValues(
                    file, {{"HEAD", "Title", "KT560AX"},
                           {"Data", "DC", "01"},
                           {"Data", "HA0001", QByteArray::number(version).repeated(24)}}) ||
                !history.stage(name(i), file))
                return 1;
            lines.append(name(i) + QStringLiteral(": UserCardDatabase; cards changed 1; now 1 "
                                                  "cards, 2 records"));
            kt::fleet::ControllerRecord& r = state.controllers[name(i)];
            r.outcome =
                i % 10 ? kt::engine::JobOutcome::Finished : kt::engine::JobOutcome::NoAnswer;
            r.error = i % 10 ? QString() : QStringLiteral("11 tries, no reply");
            r.lastTry = now.addSecs(-60);
            r.lastComplete = file;
            r.lastCompleteAt = now.addSecs(-3600);
            r.readsCards = true;
            r.cards = 1;
            r.records = 2;
            r.changed = true;
            r.changes = QStringLiteral("UserCardDatabase; cards changed 1; now 1 cards, 2 records");
            while (r.recent.size() < kt::fleet::kRecentRuns)
                r.recent.append({now.addDays(-r.recent.size()), r.outcome, false});
        }
        if (!history.commit(lines.join(u'\n') + u'\n'))
            return 1;
    }
    if (!kt::fleet::writeFleetState(kt::fleet::statePathOf(fleetFile), state))
        return 1;

    kt::shell::Result<kt::fleet::LoadedFleet> loaded = kt::fleet::loadFleet(fleetFile);
    timed("status: fleet file, state and states", [&] {
        loaded = kt::fleet::loadFleet(fleetFile);
        std::printf("  %lld views\n",
                    qlonglong(kt::fleet::viewsOf(loaded->fleet, loaded->state, now).size()));
    });
    timed("metrics", [&] {
        std::printf(
            "  %lld bytes\n",
            qlonglong(kt::fleet::metricsText(loaded->name,
                                             kt::fleet::viewsOf(loaded->fleet, loaded->state, now),
                                             loaded->state, now)
                          .size()));
    });
    const kt::fleet::PageLanguage language{
        [](const char* key) { return QString::fromLatin1(key); }};
    timed("report page with the history", [&] {
        std::printf("  %lld bytes (1 in 10 failing, all changed)\n",
                    qlonglong(kt::fleet::reportPage({{&*loaded, &history}}, language, now).size()));
    });
    kt::fleet::LoadedFleet night = *loaded;
    int i = 0;
    for (auto& [name, r] : night.state.controllers) {
        r.outcome = i % 100 ? kt::engine::JobOutcome::Finished : kt::engine::JobOutcome::NoAnswer;
        r.error = i % 100 ? QString() : QStringLiteral("11 tries, no reply");
        r.changed = i % 50 == 0;
        for (kt::fleet::RecentRun& run : r.recent)
            run.outcome = r.outcome;
        ++i;
    }
    timed("report page of a usual night", [&] {
        std::printf("  %lld bytes (1 in 100 failing, 1 in 50 changed; target 1 MB)\n",
                    qlonglong(kt::fleet::reportPage({{&night, &history}}, language, now).size()));
    });
    if (argc > 1) {
        const auto command = [&](const QStringList& arguments) {
            QProcess process;
            process.setWorkingDirectory(dir.path());
            process.setStandardOutputFile(QProcess::nullDevice());
            process.start(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath(), arguments);
            process.waitForFinished(120000);
            std::printf("  exit status %d\n", process.exitCode());
        };
        timed(
            "kt560ax status (the whole program)",
            [&] {
                command({"status", fleetFile});
            },
            1);
        timed(
            "kt560ax status --problems",
            [&] {
                command({"status", fleetFile, "--problems"});
            },
            1);
        timed("kt560ax report (the whole program)", [&] {
            command({"report", fleetFile, "-o", dir.filePath("page.html")});
        });
    }
    return 0;
}
