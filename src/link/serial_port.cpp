#include "serial_port.h"

namespace kt::link {

bool SerialPort::setSettings(const QByteArray& text) {
    const shell::Result<PortSettings> parsed = parsePortSettings(text);
    settings_ = parsed ? std::optional(*parsed) : std::nullopt;
    return parsed ? true : fail(parsed.error().message);
}

} // namespace kt::link
