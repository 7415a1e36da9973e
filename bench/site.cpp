// Times status and report --remote for a site of 20 gateways, each pushing
// a fleet of 250 controllers to its branch of one bare repository, on a
// usual night (1 controller in 100 failing, 1 in 50 changed). Targets:
// status --remote at most 2 s, read where the repository is and through a
// file:// URL (a first fetch into an empty cache, then one that is up to
// date); the site's page at most 1 MB.
//   bench_site KT560AX
#include "fleet/committed_state.h"
#include "fleet/history.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kGateways = 20;
constexpr int kControllers = 250;

// The state of gateway `g`'s fleet after a usual night.
kt::fleet::FleetState nightOf(const kt::fleet::Fleet& fleet, int g, const QDateTime& now) {
    kt::fleet::FleetState state;
    state.lastRun = now.addSecs(-600);
    for (int i = 0; i < fleet.controllers.size(); ++i) {
        const int n = g * kControllers + i;
        const bool failing = n % 100 == 0;
        kt::fleet::ControllerRecord& r = state.controllers[fleet.controllers[i].name];
        r.port = fleet.controllers[i].port;
        r.outcome = failing ? kt::engine::JobOutcome::NoAnswer : kt::engine::JobOutcome::Finished;
        r.error = failing ? QStringLiteral("11 tries, no reply") : QString();
        r.lastTry = now.addSecs(-900);
        r.lastComplete = QStringLiteral("/var/backups/kt560ax/%1/2026-12-08_020000.KT")
                             .arg(fleet.controllers[i].name);
        r.lastCompleteAt = now.addSecs(-3600);
        r.readsCards = true;
        r.cards = 1200;
        r.records = 1250;
        r.changed = n % 50 == 1;
        if (r.changed)
            r.changes = QStringLiteral("UserCardDatabase; cards changed 17; now 1200 cards, "
                                       "1250 records");
        while (r.recent.size() < kt::fleet::kRecentRuns)
            r.recent.append({now.addDays(-r.recent.size()), r.outcome, false});
    }
    return state;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_site KT560AX\n");
        return 1;
    }
    QTemporaryDir dir;
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("KT_BENCH_KEEP"));
    const QString bare = dir.filePath("site.git");
    if (QProcess::execute(QStringLiteral("git"), {"init", "-q", "--bare", bare}) != 0)
        return 1;
    const QDateTime now = QDateTime::currentDateTime();
    for (int g = 0; g < kGateways; ++g) {
        kt::fleet::Fleet fleet;
        fleet.file = QStringLiteral("/var/lib/kt560ax/gateway-%1.ini").arg(g);
        for (int i = 0; i < kControllers; ++i) {
            kt::fleet::FleetController controller;
            controller.name = QStringLiteral("door-%1").arg(i, 3, 10, QChar(u'0'));
            controller.port = QStringLiteral("tcp://10.%1.0.%2:4001").arg(g).arg(1 + i % 50);
            fleet.controllers.append(controller);
        }
        kt::fleet::History history;
        const QString branch = QStringLiteral("gateway-%1").arg(g);
        if (!history.open(dir.filePath(branch), kt::fleet::History::Mode::Write) ||
            !history.stageState(
                kt::fleet::committedStateText(fleet, nightOf(fleet, g, now), branch)) ||
            !history.commit(QStringLiteral("0 controllers changed, 0 failed\n")) ||
            !history.push(kt::fleet::RemoteAddress(bare), branch))
            return 1;
    }
    const QString program = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath("cache"));
    const auto timed = [&](const char* what, const QStringList& arguments, const char* target) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        process.start(program, arguments);
        process.waitForFinished(120000);
        std::printf("%-44s %7.3f s (target %s), exit status %d\n", what, clock.nsecsElapsed() / 1e9,
                    target, process.exitCode());
    };
    const QString url = QStringLiteral("file://") + bare;
    timed("status --remote FOLDER", {"status", "--remote", bare}, "2 s");
    timed("status --remote URL, the first fetch", {"status", "--remote", url}, "2 s");
    timed("status --remote URL, up to date", {"status", "--remote", url}, "2 s");
    timed("status --remote FOLDER --problems", {"status", "--remote", bare, "--problems"}, "2 s");
    const QString page = dir.filePath("site.html");
    timed("report --remote FOLDER", {"report", "--remote", bare, "-o", page}, "2 s");
    std::printf("the site's page: %lld bytes of %d controllers (target 1 MB)\n",
                qlonglong(QFileInfo(page).size()), kGateways * kControllers);
    return 0;
}
