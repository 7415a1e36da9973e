// kt-virtual-controller: KT550AX controllers on pseudo-terminals or a
// serial device, for trying the program without hardware; one process
// serves as many lines as are asked for.
#include "line_endpoint.h"
#include "link/port_settings.h"
#include "link/trace.h"
#include "link_paths.h"
#include "record_store.h"
#include "virtual_controller.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <list>
#include <unistd.h>

using namespace kt::sim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

int fail(const QString& message) {
    std::fprintf(stderr, "kt-virtual-controller: %s\n", qPrintable(message));
    return 2;
}

// One line's controller: its own records (a copy of the seeded ones,
// shared until written), its own protocol state and its own terminal.
struct Line {
    Line(const RecordStore& seeded, const QList<int>& addresses)
        : store(seeded), controller(store, addresses) {}
    RecordStore store;
    VirtualController controller;
    std::unique_ptr<LineEndpoint> endpoint;
    QString linkPath;
};

} // namespace

int main(int argc, char** argv) {
    // Qt's own event loop costs less a wake-up than the GLib one.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kt-virtual-controller");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A virtual KT550AX access controller. It creates a pseudo-terminal and prints its\n"
        "path (or serves a real serial device with --device), and answers request frames\n"
        "(with --links N, N controllers, each on a pseudo-terminal of its own, one path a\n"
        "line; one --link PATH is then numbered PATH1 to PATHN)\n"
        "(SOH, address, code, index, data, STX, CRC-16/ARC as 4 hex digits, CR) with reply\n"
        "frames (ETX, address, code, data, EOT, CRC, CR). It holds every record of the nine\n"
        "categories: BA1-3 BB1-3 BC1-8, DC DI, EA/EB/EC01-16 ED, FA01-30 FD01-60, GA01-12,\n"
        "user cards 0001-9999 (read with HB, written with HA, 24 characters; an empty slot\n"
        "answers with an empty data field), MD001-250, NA/NB01-16 ND, OA/OB01-04 OD.\n"
        "A request without data reads a record; with data it writes the record and is\n"
        "acknowledged with an empty data field. Requests with a bad CRC, another address,\n"
        "an unknown code or an index out of range are not answered.\n"
        "The records are seeded with deterministic sample data unless --load or --empty.\n"
        "Faults for --fault: " +
        QString::fromLatin1(faultNames().join(", ")) +
        " (lower-case-crc changes nothing when the CRC has no letter).\n"
        "Stop it with Ctrl+C (SIGINT) or SIGTERM; --save then writes the records.");
    parser.addHelpOption();
    const QCommandLineOption deviceOpt("device", "Serve this serial device instead of a pty.",
                                       "path");
    const QCommandLineOption linkOpt(
        "link", "Make a symbolic link to the pty at this path (once for each line).", "path");
    const QCommandLineOption linksOpt("links", "Serve this many controllers (default 1).", "n",
                                      "0");
    const QCommandLineOption addressOpt("address", "Controller addresses, 1-99 (default 1).",
                                        "list", "1");
    const QCommandLineOption cardsOpt("cards", "Seed this many user cards (default 2500).", "n",
                                      "2500");
    const QCommandLineOption seedOpt("seed", "Seed of the sample data (default 1).", "n", "1");
    const QCommandLineOption emptyOpt("empty", "Start with no records at all.");
    const QCommandLineOption loadOpt("load", "Load the records from a backup file.", "file");
    const QCommandLineOption saveOpt("save", "Save the records to a backup file on exit.", "file");
    const QCommandLineOption faultOpt("fault", "Inject this fault into replies.", "name", "none");
    const QCommandLineOption countOpt("fault-count", "Apply the fault to the next n replies only.",
                                      "n", "-1");
    const QCommandLineOption afterOpt(
        "fault-after", "Answer n replies normally before the fault starts.", "n", "0");
    const QCommandLineOption dropOpt("drop-every", "Leave every k-th request unanswered.", "k",
                                     "0");
    const QCommandLineOption alterOpt(
        "alter", "Make every k-th record read back differ from the one stored.", "k", "0");
    const QCommandLineOption lateOpt("late-ms", "Delay of a late reply (default 1500).", "ms",
                                     "1500");
    const QCommandLineOption piecesOpt("pieces", "Pieces of a split reply (default 3).", "n", "3");
    const QCommandLineOption gapOpt(
        "gap-ms", "Gap between pieces, or between the copies of a reply sent twice (default 5).",
        "ms", "5");
    const QCommandLineOption paceOpt("pace", "Send at the line's real speed (11 bits a byte).");
    const QCommandLineOption settingsOpt("settings", "Line settings (default 19200,e,8,1).", "text",
                                         "19200,e,8,1");
    const QCommandLineOption logOpt("log", "Print every byte received, on stderr.");
    const QCommandLineOption latencyOpt(
        "latency-ms", "Release bytes to the PC only every ms, as a USB adapter does.", "ms", "0");
    const QCommandLineOption echoOpt("echo", "Echo every byte received, as an RS-485 line does.");
    parser.addOptions({deviceOpt,   linkOpt,  linksOpt, addressOpt, cardsOpt, seedOpt,
                       emptyOpt,    loadOpt,  saveOpt,  faultOpt,   afterOpt, countOpt,
                       dropOpt,     alterOpt, lateOpt,  piecesOpt,  gapOpt,   paceOpt,
                       settingsOpt, logOpt,   echoOpt,  latencyOpt});
    parser.process(app);

    QString error;
    const QStringList linkPathList =
        linkPaths(parser.values(linkOpt), parser.value(linksOpt).toInt(), &error);
    if (linkPathList.isEmpty())
        return fail(error);
    const bool several = linkPathList.size() > 1;
    if (several && (parser.isSet(deviceOpt) || parser.isSet(saveOpt)))
        return fail("--device and --save serve one line only");

    QList<int> addresses;
    for (const QString& part : parser.value(addressOpt).split(',')) {
        bool ok = false;
        const int address = part.trimmed().toInt(&ok);
        if (!ok || address < 1 || address > 99)
            return fail("bad address " + part);
        addresses.append(address);
    }

    RecordStore store;
    if (parser.isSet(loadOpt)) {
        if (!store.loadBackup(parser.value(loadOpt), &error))
            return fail(error);
    } else if (!parser.isSet(emptyOpt)) {
        store.seed(std::clamp(parser.value(cardsOpt).toInt(), 0, 9999),
                   parser.value(seedOpt).toUInt());
    }

    FaultPlan plan;
    if (!faultFromName(parser.value(faultOpt).toLatin1(), &plan.fault))
        return fail("unknown fault " + parser.value(faultOpt));
    plan.startAfter = parser.value(afterOpt).toInt();
    plan.count = parser.value(countOpt).toInt();
    plan.dropEvery = parser.value(dropOpt).toInt();
    plan.alterEvery = parser.value(alterOpt).toInt();
    plan.lateMs = parser.value(lateOpt).toDouble();
    plan.pieces = parser.value(piecesOpt).toInt();
    plan.gapMs = parser.value(gapOpt).toDouble();
    const QByteArray settings = parser.value(settingsOpt).toLatin1();
    int baudRate = 0;
    if (parser.isSet(paceOpt)) {
        const auto parsed = kt::link::parsePortSettings(settings);
        if (!parsed)
            return fail(parsed.error().message);
        baudRate = parsed->baudRate;
    }
    std::list<Line> lines;
    for (const QString& linkPath : linkPathList) {
        Line& line = lines.emplace_back(store, addresses);
        line.controller.setFaultPlan(plan);
        line.controller.setEcho(parser.isSet(echoOpt));
        line.endpoint = parser.isSet(deviceOpt)
                            ? LineEndpoint::openDevice(line.controller, parser.value(deviceOpt),
                                                       settings, &error)
                            : LineEndpoint::createPty(line.controller, &error);
        if (!line.endpoint)
            return fail(error);
        line.endpoint->setPacing(baudRate);
        line.endpoint->setLatency(parser.value(latencyOpt).toDouble());
        if (parser.isSet(logOpt)) {
            const QByteArray prefix = several ? QByteArray::number(lines.size()) + ' ' : "";
            QObject::connect(line.endpoint.get(), &LineEndpoint::received,
                             [prefix](const QByteArray& bytes) {
                                 std::fprintf(stderr, "%sreceived: %s\n", prefix.constData(),
                                              kt::link::printable(bytes).constData());
                             });
        }
        if (!linkPath.isEmpty()) {
            QFile::remove(linkPath);
            if (!QFile::link(line.endpoint->devicePath(), linkPath))
                return fail("cannot make the link " + linkPath);
            line.linkPath = linkPath;
        }
    }

    if (pipe(signalPipe) != 0)
        return fail("cannot create a pipe");
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    for (const Line& line : lines)
        std::printf("%s\n", qPrintable(line.endpoint->devicePath()));
    std::fflush(stdout);
    const int status = app.exec();

    for (Line& line : lines) {
        line.endpoint.reset();
        if (!line.linkPath.isEmpty())
            QFile::remove(line.linkPath);
    }
    if (parser.isSet(saveOpt) && !lines.front().store.saveBackup(parser.value(saveOpt), &error))
        return fail(error);
    return status;
}
