#include "port_naming.h"

#include "shell/ini_file.h"
#include "shell/settings.h"

#include <QFileInfo>

namespace kt::link {

QString deviceForPort(int number, const QString& iniFile) {
    const QByteArray name = "COM" + QByteArray::number(number);
    const QByteArray mapped = shell::ReadIni(iniFile, shell::kCommSection, name).trimmed();
    if (!mapped.isEmpty())
        return QString::fromUtf8(mapped);
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

QString localDevice(const QString& name) {
    const QFileInfo here(name);
    return !here.isAbsolute() && here.exists() ? here.absoluteFilePath() : name;
}

} // namespace kt::link
