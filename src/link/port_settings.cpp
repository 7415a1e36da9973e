#include "port_settings.h"

#include <QList>
#include <algorithm>

namespace kt::link {

namespace {

shell::Error invalid(const QString& text) {
    return {shell::ErrorCode::Invalid, text};
}

bool isDigits(const QByteArray& text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

shell::Result<PortSettings> parsePortSettings(const QByteArray& text) {
    const QString shown = QString::fromLatin1(text.trimmed());
    const QString expected = QStringLiteral(" (expected baud,parity,data bits,stop bits, "
                                            "for example 19200,e,8,1)");
    const QList<QByteArray> parts = text.trimmed().split(',');
    if (parts.size() != 4)
        return invalid(QStringLiteral("Bad settings \"%1\"").arg(shown) + expected);

    PortSettings s;
    const QByteArray baud = parts[0].trimmed();
    bool ok = isDigits(baud);
    s.baudRate = ok ? baud.toInt(&ok) : 0;
    if (!ok || s.baudRate <= 0)
        return invalid(QStringLiteral("Bad baud rate \"%1\" in settings \"%2\"")
                           .arg(QString::fromLatin1(baud), shown));

    const QByteArray parity = parts[1].trimmed().toLower();
    if (parity == "n")
        s.parity = PortSettings::Parity::None;
    else if (parity == "e")
        s.parity = PortSettings::Parity::Even;
    else if (parity == "o")
        s.parity = PortSettings::Parity::Odd;
    else if (parity == "m")
        s.parity = PortSettings::Parity::Mark;
    else if (parity == "s")
        s.parity = PortSettings::Parity::Space;
    else
        return invalid(QStringLiteral("Bad parity \"%1\" in settings \"%2\" (n, e, o, m or s)")
                           .arg(QString::fromLatin1(parity), shown));

    const QByteArray dataBits = parts[2].trimmed();
    if (dataBits.size() != 1 || dataBits[0] < '5' || dataBits[0] > '8')
        return invalid(QStringLiteral("Bad data bits \"%1\" in settings \"%2\" (5 to 8)")
                           .arg(QString::fromLatin1(dataBits), shown));
    s.dataBits = dataBits[0] - '0';

    const QByteArray stopBits = parts[3].trimmed();
    if (stopBits == "1")
        s.stopBits = PortSettings::StopBits::One;
    else if (stopBits == "1.5")
        s.stopBits = PortSettings::StopBits::OneAndHalf;
    else if (stopBits == "2")
        s.stopBits = PortSettings::StopBits::Two;
    else
        return invalid(QStringLiteral("Bad stop bits \"%1\" in settings \"%2\" (1, 1.5 or 2)")
                           .arg(QString::fromLatin1(stopBits), shown));
    return s;
}

} // namespace kt::link
