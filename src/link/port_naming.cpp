#include "port_naming.h"

#include "shell/ini_file.h"
#include "shell/settings.h"
#include "shell/text_format.h"

#include <QRegularExpression>
#include <QUrl>

namespace kt::link {

namespace {

// COM and a number, in any letter case.
const QRegularExpression& comPort() {
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    return com;
}

shell::Result<PortAddress> parseTarget(const QString& name) {
    static const QRegularExpression form(
        QStringLiteral("^(tcp|socket|rfc2217)://(\\[[^\\]]+\\]|[^:/\\[\\]]+):([0-9]{1,5})/?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(name);
    const int port = match.hasMatch() ? match.captured(3).toInt() : 0;
    if (!match.hasMatch() || port < 1 || port > 65535)
        return shell::Error{shell::ErrorCode::Invalid,
                            QStringLiteral("\"%1\" is not a network port: write tcp://HOST:PORT or "
                                           "rfc2217://HOST:PORT, with a port number from 1 to "
                                           "65535.")
                                .arg(name),
                            name};
    PortAddress address;
    address.kind = match.captured(1).toLower() == QLatin1String("rfc2217")
                       ? PortAddress::Kind::Rfc2217
                       : PortAddress::Kind::RawTcp;
    address.host = match.captured(2);
    if (address.host.startsWith(u'['))
        address.host = address.host.mid(1, address.host.size() - 2);
    address.tcpPort = quint16(port);
    address.label = name;
    return address;
}

PortAddress deviceAddress(const QString& device) {
    PortAddress address;
    address.device = localDevice(device);
    address.label = device;
    return address;
}

} // namespace

shell::Result<PortAddress> parsePortName(const QString& name, const QString& iniFile) {
    const QString trimmed = name.trimmed();
    const auto invalid = [&](const QString& text) {
        return shell::Error{shell::ErrorCode::Invalid, text, trimmed};
    };
    if (const QRegularExpressionMatch match = comPort().match(trimmed); match.hasMatch()) {
        const int number = match.captured(1).toInt(); // 0 when it does not fit
        if (number < shell::kFirstComPort || number > shell::kLastComPort)
            return invalid(
                shell::fillIn(QStringLiteral("There is no port %1: choose COM%2 to COM%3."),
                              {trimmed, QString::number(shell::kFirstComPort),
                               QString::number(shell::kLastComPort)}));
        const QString mapped = deviceForPort(number, iniFile);
        if (!mapped.contains(QLatin1String("://"))) {
            PortAddress address = deviceAddress(mapped);
            address.label = QStringLiteral("COM%1").arg(number);
            return address;
        }
        const shell::Result<PortAddress> target = parseTarget(mapped);
        if (!target)
            return invalid(shell::fillIn(QStringLiteral("COM%1 in Language.ini: %2"),
                                         {QString::number(number), target.error().message}));
        PortAddress address = *target;
        address.label = QStringLiteral("COM%1").arg(number);
        return address;
    }
    if (trimmed.contains(QLatin1String("://")))
        return parseTarget(trimmed);
    if (trimmed.isEmpty())
        return invalid(QStringLiteral("No port has been named."));
    return deviceAddress(trimmed);
}

QString portAndLine(const QString& name, const QString& iniFile) {
    const QString chosen = name.trimmed();
    const shell::Result<PortAddress> address = parsePortName(chosen, iniFile);
    if (!address)
        return chosen;
    // COMn: the line Language.ini maps it to; a device: its path as opened.
    const QRegularExpressionMatch com = comPort().match(chosen);
    const QString line = com.hasMatch() ? deviceForPort(com.captured(1).toInt(), iniFile)
                         : address->kind == PortAddress::Kind::Device ? address->device
                                                                      : chosen;
    return line == address->label
               ? line
               : shell::fillIn(QStringLiteral("%1 (%2)"), {address->label, line});
}
} // namespace kt::link
