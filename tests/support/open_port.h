// Opens a port as the programs do, from the event loop, and waits for the
// open's report: true once the port is open.
#pragma once

#include "link/clock.h"
#include "link/serial_port.h"
#include "wait_for.h"

#include <optional>

namespace kt::test {

inline bool openPort(link::SerialPort& port, link::Clock& clock) {
    std::optional<bool> opened;
    port.startOpen(clock, [&opened](bool ok) { opened = ok; });
    if (!waitFor([&] { return opened.has_value(); }, 15000))
        port.close();
    return opened.value_or(false);
}

inline bool openPort(link::SerialPort& port) {
    link::EventLoopClock clock;
    return openPort(port, clock);
}

} // namespace kt::test
