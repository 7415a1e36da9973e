#include "port_naming.h"

#include "shell/ini_file.h"
#include "shell/settings.h"

namespace kt::link {

QString deviceForPort(int number, const QString& iniFile) {
    const QByteArray name = "COM" + QByteArray::number(number);
#ifdef Q_OS_WIN
    Q_UNUSED(iniFile);
    return QString::fromLatin1(name);
#else
    const QByteArray mapped = shell::ReadIni(iniFile, shell::kCommSection, name).trimmed();
    if (!mapped.isEmpty())
        return QString::fromUtf8(mapped);
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

} // namespace kt::link
