// The serial settings text "baud,parity,data bits,stop bits", for example
// "19200,e,8,1", parsed strictly.
#pragma once

#include "shell/result.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace kt::link {

struct PortSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    int baudRate = 19200;
    Parity parity = Parity::Even;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
};

// Parses the trimmed text: a positive baud rate; parity n, e, o, m or s (any
// case); data bits 5 to 8; stop bits 1, 1.5 or 2. An Invalid error names the
// faulty part.
shell::Result<PortSettings> parsePortSettings(const QByteArray& text);

} // namespace kt::link
