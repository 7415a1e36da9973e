// The serial devices of this computer as a technician tells them apart:
// by their stable /dev/serial/by-id names where they have one, with the
// description, maker and serial number the system knows.
#pragma once

#include <QStringList>

namespace kt::ui {

// One line per device: its path, then " — " and what is known of it.
QStringList serialDeviceLines();

// The port name of such a line, or of a name typed by hand.
QString portNameOfLine(const QString& line);

} // namespace kt::ui
