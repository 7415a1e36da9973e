#include "device_port.h"
#include "win_serial_port.h"

namespace kt::link {

std::unique_ptr<SerialPort> makeDevicePort(const QString& device, const QString& label) {
    auto port = std::make_unique<WinSerialPort>();
    port->setDevice(device, label);
    return port;
}

} // namespace kt::link
