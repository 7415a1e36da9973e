// Which device a port number names. On Windows COMn is the port itself.
// Elsewhere key "COMn" of section "COMMUNICATION" of Language.ini gives the
// device path (/dev/ttyUSB0, a /dev/serial/by-id/... link); without that key
// COMn is /dev/ttyS<n-1>.
#pragma once

#include <QString>

namespace kt::link {

QString deviceForPort(int number, const QString& iniFile);

} // namespace kt::link
