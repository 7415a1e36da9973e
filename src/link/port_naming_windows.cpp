#include "port_naming.h"

namespace kt::link {

// COMn names the port itself, as the system names it.
QString deviceForPort(int number, const QString&) {
    return QStringLiteral("COM%1").arg(number);
}

QString localDevice(const QString& name) {
    QString device = name;
    if (device.startsWith(QLatin1String("\\\\.\\")))
        device.remove(0, 4);
    return device;
}

} // namespace kt::link
