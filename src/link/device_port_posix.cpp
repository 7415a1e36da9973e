#include "device_port.h"
#include "qt_serial_port.h"

namespace kt::link {

std::unique_ptr<SerialPort> makeDevicePort(const QString& device, const QString& label) {
    auto port = std::make_unique<QtSerialPort>();
    port->setDevice(device, label);
    return port;
}

} // namespace kt::link
