// The serial devices of this computer as a technician tells them apart:
// by their stable /dev/serial/by-id names where they have one, with the
// description, maker and serial number the system knows; on Windows the
// COM ports the system has, with the device behind each.
#pragma once

#include <QStringList>

namespace kt::ui {

// One line per device: its path, then " — " and what is known of it.
QStringList serialDeviceLines();

// The port name of such a line, or of a name typed by hand.
QString portNameOfLine(const QString& line);

// The line of a device `name`, with what is known of it.
QString deviceLine(const QString& name, const QStringList& known);

} // namespace kt::ui
