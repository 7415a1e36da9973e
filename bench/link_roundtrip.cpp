// Times link transactions over a pseudo-terminal against the virtual
// controller answering at once, with TX and RX delays of 10 ms: prints the
// median and 99th percentile per transaction and their ratio to the 20 ms
// that the two delays alone take.
#include "link/line_port.h"
#include "link/link_transaction.h"
#include "sim/pty_controller.h"
#include "support/open_port.h"
#include "support/quiet_views.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;

    kt::sim::PtyController controller;
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    if (!controller.mapPort(ini)) {
        std::fprintf(stderr, "%s\n", qPrintable(controller.error));
        return 1;
    }
    kt::link::LinePort port(ini);
    if (!port.setPortNumber(1) || !port.setSettings("19200,e,8,1") || !kt::test::openPort(port)) {
        std::fprintf(stderr, "%s\n", qPrintable(port.errorString()));
        return 1;
    }

    const kt::link::LineTimes times{.txDelayMs = 10, .rxDelayMs = 10, .rxTimeOutMs = 200};
    kt::link::EventLoopClock clock;
    kt::test::QuietJobView view;
    kt::link::LinkTransaction link(port, clock, view, times);

    // Each request goes out once the previous one has reported, as a job
    // sends them; the time runs from the request to its report.
    std::vector<double> ms;
    ms.reserve(count);
    int sent = 0;
    bool failed = false;
    std::shared_ptr<kt::link::LinkRequest> pending;
    std::function<void()> next = [&] {
        if (sent == count)
            return QCoreApplication::quit();
        ++sent;
        const QByteArray request =
            "01HB" + QByteArray::number(sent % 9999 + 1).rightJustified(4, '0');
        const double start = clock.nowMs();
        pending = link.lsubTransaction(request, [&, start](const kt::link::TxResult& result) {
            ms.push_back(clock.nowMs() - start);
            if (!result.accepted()) {
                std::fprintf(stderr, "transaction %d failed\n", sent);
                failed = true;
                return QCoreApplication::quit();
            }
            next();
        });
    };
    next();
    QCoreApplication::exec();
    if (failed)
        return 1;
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    std::printf("%d transactions, TX delay 10 ms, RX delay 10 ms, failed tries %d\n", count,
                int(link.errorCount()));
    std::printf("median %.3f ms (%.2f %% over 20 ms), p99 %.3f ms (%.2f %% over)\n", median,
                (median / 20 - 1) * 100, p99, (p99 / 20 - 1) * 100);
    return 0;
}
