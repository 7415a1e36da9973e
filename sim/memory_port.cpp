#include "memory_port.h"

namespace kt::sim {

MemoryPort::MemoryPort(VirtualController& controller, VirtualClock& clock)
    : controller_(controller), clock_(clock) {}

bool MemoryPort::open() {
    open_ = true;
    watching_ = true;
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
        return fail(QStringLiteral("write failed"));
    }
    written_.append(bytes);
    const double now = clock_.nowMs();
    for (const Chunk& chunk : controller_.receive(bytes))
        clock_.callAt(now + chunk.delayMs, [this, bytes = chunk.bytes] {
            if (!open_)
                return;
            input_ += bytes;
            if (watching_)
                emit arrived();
        });
    return true;
}

void MemoryPort::setWatching(bool watching) {
    const bool resumed = watching && !watching_;
    watching_ = watching;
    if (resumed && !input_.isEmpty())
        clock_.callAt(clock_.nowMs(), [this] {
            if (open_ && watching_ && !input_.isEmpty())
                emit arrived();
        });
}

void MemoryPort::vanish() {
    if (!open_)
        return;
    open_ = false;
    fail(QStringLiteral("The device went away."));
    emit lost(errorString());
}

} // namespace kt::sim
