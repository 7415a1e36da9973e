#include "port_naming.h"

#include "shell/ini_file.h"
#include "shell/settings.h"

namespace kt::link {

// COMn is the system's own port, unless Language.ini leads it elsewhere (a
// serial device server, most often).
QString deviceForPort(int number, const QString& iniFile) {
    const QByteArray name = "COM" + QByteArray::number(number);
    const QByteArray mapped = shell::ReadIni(iniFile, shell::kCommSection, name).trimmed();
    return mapped.isEmpty() ? QString::fromLatin1(name) : QString::fromUtf8(mapped);
}

QString localDevice(const QString& name) {
    QString device = name;
    if (device.startsWith(QLatin1String("\\\\.\\")))
        device.remove(0, 4);
    return device;
}

} // namespace kt::link
