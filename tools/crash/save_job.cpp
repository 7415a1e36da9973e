// Runs one Save job of all nine categories through the engine against a
// controller on a serial device, as the program would, and exits when it
// ends. scripts/crash-test kills it at random moments.
//   save_job LANGUAGE_INI BACKUP_FILE CARDS [TX_DELAY RX_DELAY]
// COM1 of LANGUAGE_INI names the device.
#include "engine/transfer_job.h"
#include "link/line_port.h"
#include "support/open_port.h"
#include "support/quiet_views.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: save_job LANGUAGE_INI BACKUP_FILE CARDS [TX_DELAY RX_DELAY]\n");
        return 2;
    }
    kt::link::LinePort port(QString::fromLocal8Bit(argv[1]));
    if (!port.setPortNumber(1) || !port.setSettings("19200,e,8,1") || !kt::test::openPort(port)) {
        std::fprintf(stderr, "%s\n", qPrintable(port.errorString()));
        return 2;
    }
    const kt::link::LineTimes times{.txDelayMs = argc > 5 ? float(atof(argv[4])) : 10,
                                    .rxDelayMs = argc > 5 ? float(atof(argv[5])) : 10,
                                    .rxTimeOutMs = 500};
    kt::test::QuietJobView view;
    view.printMessages = true;
    kt::link::EventLoopClock clock;
    kt::engine::TransferJob job(port, clock, view, times);
    QObject::connect(&job, &kt::engine::TransferJob::finished, &app, &QCoreApplication::quit);
    if (!job.start({.file = QString::fromLocal8Bit(argv[2]),
                    .categories = kt::engine::allCategories(),
                    .cardCount = atoi(argv[3])}))
        return 1;
    app.exec();
    return view.failed ? 1 : 0;
}
