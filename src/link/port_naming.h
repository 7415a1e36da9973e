// Which line a port name names:
//   COM1..COM8          key "COMn" of section "COMMUNICATION" of
//                       Language.ini (a device path or one of the forms
//                       below), else on Windows the port itself and
//                       elsewhere /dev/ttyS<n-1>
//   a device path       /dev/ttyUSB0, /dev/serial/by-id/...
//   tcp://HOST:PORT     raw TCP to a serial device server (also socket://)
//   rfc2217://HOST:PORT a serial device server in RFC 2217 (telnet) mode
#pragma once

#include "shell/result.h"

#include <QString>
#include <optional>

namespace kt::link {

// The line COMn names (the system's own naming, in port_naming_posix.cpp
// and port_naming_windows.cpp).
QString deviceForPort(int number, const QString& iniFile);
// The device a name given as it stands names: on POSIX systems a path
// relative to the current folder is taken there, and a bare name that names
// no file there ("ttyUSB0") is one of /dev; on Windows a port name is the
// port ("COM12").
QString localDevice(const QString& name);

struct PortAddress {
    enum class Kind { Device, RawTcp, Rfc2217 };
    Kind kind = Kind::Device;
    QString device; // Kind::Device
    QString host;   // the TCP kinds
    quint16 tcpPort = 0;
    QString label; // how messages name it: "COM3", or the name as given
};

// The address of a port name; an Invalid error says what is wrong with it.
shell::Result<PortAddress> parsePortName(const QString& name, const QString& iniFile);

// A port as the operator chose it and, where that is another name, the line
// it stands for: "COM1 (/dev/ttyUSB0)", "ttyUSB0 (/dev/ttyUSB0)",
// "tcp://gw:4001". This is how the job log names it.
QString portAndLine(const QString& name, const QString& iniFile);

} // namespace kt::link
