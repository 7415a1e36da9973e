#include "memory_port.h"

#include "link/port_settings.h"

namespace kt::sim {

MemoryPort::MemoryPort(VirtualController& controller, VirtualClock& clock)
    : controller_(controller), clock_(clock) {}

bool MemoryPort::setSettings(const QByteArray& text) {
    const shell::Result<link::PortSettings> parsed = link::parsePortSettings(text);
    if (!parsed)
        error_ = parsed.error().message;
    return parsed.ok();
}

bool MemoryPort::open() {
    open_ = true;
    input_.clear();
    return true;
}

QByteArray MemoryPort::readAll() {
    QByteArray bytes;
    bytes.swap(input_);
    return bytes;
}

bool MemoryPort::write(const QByteArray& bytes) {
    if (!open_ || writesFail_) {
        error_ = QStringLiteral("write failed");
        return false;
    }
    written_.append(bytes);
    const double now = clock_.nowMs();
    for (const Chunk& chunk : controller_.receive(bytes))
        clock_.callAt(now + chunk.delayMs, [this, bytes = chunk.bytes] {
            if (!open_)
                return;
            input_ += bytes;
            emit arrived();
        });
    return true;
}

void MemoryPort::vanish() {
    if (!open_)
        return;
    open_ = false;
    error_ = QStringLiteral("The device went away.");
    emit lost(error_);
}

} // namespace kt::sim
