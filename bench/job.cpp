// Times the program's own work in a Save job of all nine categories with
// 9999 user cards: the engine against the in-process controller on the
// virtual clock, so that the line's time is left out and what remains is
// framing, checking, backup-file writes, progress and captions.
#include "engine/transfer_job.h"
#include "sim/memory_port.h"
#include "support/quiet_views.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    kt::sim::RecordStore store;
    store.seed(9999);
    kt::sim::VirtualController controller(store);
    kt::sim::VirtualClock clock;
    kt::sim::MemoryPort port(controller, clock);
    port.open();
    const kt::link::LineTimes times{.txDelayMs = 10, .rxDelayMs = 10, .rxTimeOutMs = 200};

    QTemporaryDir dir(QDir::currentPath() + "/bench-job-XXXXXX");
    kt::test::QuietJobView view;
    kt::engine::TransferJob job(port, clock, view, times);

    QElapsedTimer timer;
    timer.start();
    if (job.start({.file = dir.filePath("01.KT"),
                   .categories = kt::engine::allCategories(),
                   .cardCount = 9999}))
        clock.run([&] { return !job.isActive(); });
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qsizetype records = controller.requests().size();
    std::printf("Save job, all categories, 9999 cards: %lld records, %d failed tries\n",
                qlonglong(records), int(job.link().errorCount()));
    std::printf("program's own work %.2f s, %.3f ms per record (line time %.0f s, not waited)\n",
                seconds, seconds * 1000 / records, clock.nowMs() / 1000);
    return records == 459 + 9999 && view.messages == 1 && !view.failed ? 0 : 1;
}
