#include "scan_command.h"

#include "command_support.h"
#include "fleet/exit_status.h"
#include "link/clock.h"
#include "link/link_transaction.h"
#include "shell/text_format.h"
#include "signal_watch.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <unistd.h>

namespace kt::cli {

namespace {

// Shows nothing: a silent address is the expected answer of a scan.
class ScanView final : public link::LinkView {
  public:
    void showEcho(const QByteArray&) override {}
    void showLinkState(link::LinkState) override {}
    void showErrorCount(std::int32_t) override {}
    void setActivity(bool) override {}
};

// A controller at 19200 baud answers a DC request well within this.
constexpr float kScanTimeOutMs = 150;

} // namespace

int runScan(const CliOptions& options, const QString& iniFile) {
    SignalWatch watch;
    link::LinePort port(iniFile);
    link::EventLoopClock clock;
    if (!openPort(options, port, clock, watch))
        return watch.interrupted() ? kInterrupted : kPortError;
    link::LineTimes times = link::lineTimesOf(options.settings);
    times.rxTimeOutMs = std::min(times.rxTimeOutMs, kScanTimeOutMs);
    ScanView view;
    link::LinkTransaction link(port, clock, view, times);
    link.setMaxTries(1);

    // One address after another, each request sent when the previous one
    // has ended, in the program's one event loop.
    QList<int> answering;
    int address = options.from;
    std::shared_ptr<link::LinkRequest> pending;
    bool ended = false;
    bool lost = false; // at `address`: the addresses before it were reached
    const auto end = [&] {
        ended = true;
        QCoreApplication::quit();
    };
    std::function<void()> next = [&] {
        if (address > options.to || watch.interrupted())
            return end();
        pending = link.lsubTransaction(
            shell::formatDigits(address, 2) + "DC", [&](const link::TxResult& result) {
                // A lost port is no silent address: nothing after it was asked.
                if (result.status == link::TxResult::Status::PortLost) {
                    lost = true;
                    return end();
                }
                if (result.accepted() && !watch.interrupted()) {
                    answering.append(address);
                    if (!options.json) {
                        std::printf("%02d\n", address);
                        std::fflush(stdout); // a reader sees each address as it answers
                    }
                }
                if (!options.quiet && isatty(2))
                    std::fprintf(stderr, "\r\033[Kaddress %02d of %02d..%02d, %lld answered",
                                 address, options.from, options.to, qlonglong(answering.size()));
                ++address;
                next();
            });
    };
    QObject::connect(&watch, &SignalWatch::arrived, [&] {
        if (pending)
            pending->cancel();
        end();
    });
    next();
    if (!ended)
        QCoreApplication::exec();
    if (pending)
        pending->cancel();
    if (!options.quiet && isatty(2))
        std::fprintf(stderr, "\r\033[K");
    port.close();

    const int status = watch.interrupted()           ? kInterrupted
                       : lost || answering.isEmpty() ? kCommError
                                                     : kDone;
    if (options.json) {
        QJsonArray addresses;
        for (const int address : answering)
            addresses.append(address);
        QJsonObject summary{{"command", "scan"},
                            {"port", options.port},
                            {"addresses", addresses},
                            {"exitStatus", status}};
        if (lost)
            summary.insert("lostAt", address);
        std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    }
    if (lost && address > options.from)
        std::fprintf(
            stderr, "kt560ax: %s was lost at address %02d; addresses %02d..%02d were reached. %s\n",
            qPrintable(options.port), address, options.from, address - 1,
            qPrintable(port.errorString()));
    else if (lost)
        std::fprintf(stderr, "kt560ax: %s was lost at address %02d; no address was reached. %s\n",
                     qPrintable(options.port), address, qPrintable(port.errorString()));
    if (!options.quiet)
        std::fprintf(stderr, "%lld of %d addresses answered on %s.\n", qlonglong(answering.size()),
                     options.to - options.from + 1, qPrintable(options.port));
    std::fflush(stdout);
    return status;
}

} // namespace kt::cli
