#include "fleet_advice.h"

#include "link/serial_port.h"

#include <QFileInfo>

namespace kt::fleet {

namespace {

// The window's advice, pointed at the fleet file's keys: ServerFailed,
// PortMissing and CheckControllerId of Language.ini.
constexpr char kCheckServer[] = "check that the device server is on and that Port= names it";
constexpr char kCheckDevice[] = "plug in the serial adapter, or name its device in Port=";
constexpr char kCheckAddress[] =
    "check Address= (the Controller ID), the cable and the port's settings";

bool isProblem(const QJsonObject& summary, link::SerialPort::OpenError kind) {
    return summary.value("portProblem").toString() ==
           QLatin1String(link::SerialPort::openErrorId(kind));
}

} // namespace

QString fleetError(const Fleet& fleet, const FleetController& controller,
                   engine::JobOutcome outcome, const QJsonObject& summary, const QString& error) {
    using engine::JobOutcome;
    using E = link::SerialPort::OpenError;
    const QString file = QFileInfo(fleet.file).fileName();
    const QString section =
        (file.isEmpty() ? QString() : file + u' ') + u'[' + controller.name + u']';
    const QString port =
        section + QStringLiteral(" Port=") + controller.port + QStringLiteral(": ");
    const auto advised = [](const QString& where, const QString& cause, const char* check) {
        return where + cause + QStringLiteral(" — ") + QLatin1String(check);
    };
    switch (outcome) {
    case JobOutcome::ServerClosed: {
        const QString reason = summary.value("reason").toString();
        return advised(port,
                       !isProblem(summary, E::Server)
                           ? QStringLiteral("the device server closed the connection")
                       : reason.isEmpty() ? QStringLiteral("the device server cannot be reached")
                                          : reason,
                       kCheckServer);
    }
    case JobOutcome::PortUnavailable: {
        if (!isProblem(summary, E::Missing))
            return port + error; // the user's rights or another program: nothing of the file
        const QString device = summary.value("device").toString();
        return advised(port,
                       device.isEmpty() || device == controller.port
                           ? QStringLiteral("the device does not exist")
                           : QStringLiteral("the device %1 does not exist").arg(device),
                       kCheckDevice);
    }
    case JobOutcome::NoAnswer:
        // A controller that answered some records has the right address.
        if (summary.value("records").toInt() > 0)
            return error;
        return advised(section + QStringLiteral(" Address=%1: ").arg(controller.address),
                       QStringLiteral("no controller answered on ") + controller.port,
                       kCheckAddress);
    default:
        return error;
    }
}

QString fleetCheck(engine::JobOutcome outcome) {
    switch (outcome) {
    case engine::JobOutcome::ServerClosed:
        return QLatin1String(kCheckServer);
    case engine::JobOutcome::NoAnswer:
        return QLatin1String(kCheckAddress);
    default:
        return {};
    }
}

} // namespace kt::fleet
