// A serial port in memory, wired to a virtual controller on a virtual
// clock: what the link writes reaches the controller at once, and the
// controller's output arrives at the times its chunks ask for.
#pragma once

#include "link/serial_port.h"
#include "virtual_clock.h"
#include "virtual_controller.h"

namespace kt::sim {

class MemoryPort final : public link::SerialPort {
    Q_OBJECT
  public:
    MemoryPort(VirtualController& controller, VirtualClock& clock);

    bool open();
    void startOpen(link::Clock& clock, std::function<void(bool)> done) override {
        reportAtOnce(clock, open(), std::move(done));
    }
    void close() override {
        dropOpen();
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    QByteArray readAll() override;
    // Unwatched, input waits without `arrived`; watched again, what waits
    // is told at the clock's next call, as a device's readiness would be.
    void setWatching(bool watching) override;
    bool write(const QByteArray& bytes) override;

    // Puts bytes into the input as if they had arrived on the line.
    void inject(const QByteArray& bytes) {
        input_ += bytes;
        if (watching_)
            emit arrived();
    }
    // Makes every later write fail.
    void setWritesFail(bool fail) { writesFail_ = fail; }
    // The device goes away: the port closes and reports it.
    void vanish();
    // Every frame written, in order.
    const QList<QByteArray>& written() const { return written_; }

  private:
    VirtualController& controller_;
    VirtualClock& clock_;
    bool open_ = false;
    bool writesFail_ = false;
    bool watching_ = true;
    QByteArray input_;
    QList<QByteArray> written_;
};

} // namespace kt::sim
