#include "device_list.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSerialPortInfo>

namespace kt::ui {

QStringList serialDeviceLines() {
    // Stable names first: the by-id link of each device that has one.
    QMap<QString, QString> stable;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files))
        stable.insert(link.canonicalFilePath(), link.absoluteFilePath());
    QStringList lines;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        const QString device = port.systemLocation();
        QStringList known;
        for (const QString& part :
             {port.description(), port.manufacturer(),
              port.serialNumber().isEmpty() ? QString()
                                            : QStringLiteral("S/N %1").arg(port.serialNumber())})
            if (!part.isEmpty() && !known.contains(part))
                known.append(part);
        if (stable.contains(device))
            known.append(device);
        const QString name = stable.value(device, device);
        lines.append(deviceLine(name, known));
    }
    lines.sort();
    return lines;
}

} // namespace kt::ui
