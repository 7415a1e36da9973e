// Brings a terminal device back to plain raw settings before it is opened.
// A program killed while it held a pseudo-terminal leaves its settings
// behind, and QSerialPort then fails to open the device ("Invalid
// argument") because a pseudo-terminal refuses to take parity. Does nothing
// where there is no such device.
#pragma once

#include <QString>

namespace kt::link {

void resetTerminalSettings(const QString& device);

} // namespace kt::link
