// The port of a serial device of this computer: QSerialPort on POSIX
// systems, the Win32 serial API on Windows.
#pragma once

#include "serial_port.h"

#include <memory>

namespace kt::link {

// A closed port for `device`; `label` names it in messages ("COM3").
std::unique_ptr<SerialPort> makeDevicePort(const QString& device, const QString& label);

} // namespace kt::link
