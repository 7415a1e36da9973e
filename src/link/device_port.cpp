#include "device_port.h"

namespace kt::link {

void DevicePort::setDevice(const QString& device, const QString& label) {
    device_ = device;
    label_ = label == device ? QString() : QStringLiteral(" (%1)").arg(label);
}

QString groupToJoin(const QString& group, QFile::Permissions permissions) {
    const bool groupMayUse = permissions.testFlags(QFile::ReadGroup | QFile::WriteGroup);
    return group.isEmpty() || group == QLatin1String("root") || !groupMayUse ? QString() : group;
}

} // namespace kt::link
