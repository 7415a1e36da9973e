// Runs one Save job of all nine categories through the engine against a
// controller on a serial device, as the program would, and exits when it
// ends. scripts/crash-test kills it at random moments.
//   save_job DEVICE BACKUP_FILE CARDS [TX_DELAY RX_DELAY]
#include "engine/transfer_job.h"
#include "link/qt_serial_port.h"
#include "shell/ini_file.h"
#include "sim/quiet_views.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: save_job DEVICE BACKUP_FILE CARDS [TX_DELAY RX_DELAY]\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    kt::shell::WriteIni(ini, "COMMUNICATION", "COM1", argv[1]);
    kt::link::QtSerialPort port(ini);
    if (!port.setPortNumber(1) || !port.setSettings("19200,e,8,1") || !port.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(port.errorString()));
        return 2;
    }
    kt::shell::Settings settings;
    settings.sngTxDelay = argc > 5 ? float(atof(argv[4])) : 10;
    settings.sngRxDelay = argc > 5 ? float(atof(argv[5])) : 10;
    settings.sngRxTimeOut = 500;
    kt::sim::QuietJobView view(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    view.messages().printMessages = true;
    kt::link::EventLoopClock clock;
    kt::engine::TransferJob job(port, clock, view, settings, ini);
    QObject::connect(&job.tmrProcess, &QTimer::timeout, &app, [&] {
        if (!job.blnJobActive)
            app.quit();
    });
    job.cmdSave_Click();
    if (!job.blnJobActive)
        return 1;
    app.exec();
    return view.messages().failed ? 1 : 0;
}
