// Serves a virtual controller on a line: the master side of a
// pseudo-terminal that this object creates, or a real serial device.
// Linux only.
#pragma once

#include "line_poller.h"
#include "virtual_controller.h"

#include <QObject>
#include <QTimer>
#include <deque>
#include <memory>

namespace kt::sim {

class LineEndpoint final : public QObject {
    Q_OBJECT
  public:
    ~LineEndpoint() override;

    // A new pseudo-terminal; devicePath() is the device for the program.
    static std::unique_ptr<LineEndpoint> createPty(VirtualController& controller, QString* error);
    // A real serial device, configured raw with the settings text.
    static std::unique_ptr<LineEndpoint> openDevice(VirtualController& controller,
                                                    const QString& path, const QByteArray& settings,
                                                    QString* error);

    QString devicePath() const { return devicePath_; }

    // Paces the line as it would run at this baud rate, 11 bits a byte
    // (start, 8 data, parity, stop): a reply starts when the request would
    // have arrived, and its bytes follow at that speed. 0 answers at once.
    void setPacing(int baudRate) { baudRate_ = baudRate; }
    // Holds each byte for the PC until the next tick of this period, as a
    // USB serial adapter's latency timer does (16 ms by default). 0: none.
    void setLatency(double periodMs) { latencyMs_ = periodMs; }

    // Sends bytes of its own, as if the controller had sent them.
    void send(const QByteArray& bytes);

    // The line goes dead for the other end: a pseudo-terminal is hung up,
    // a device closed. Nothing more is read or written.
    void hangUp();

  signals:
    // Bytes as they arrived from the PC.
    void received(const QByteArray& bytes);

  private:
    LineEndpoint(VirtualController& controller, int fd, int keepOpenFd, QString devicePath);
    // The endpoint if its line is watched, else null with the reason.
    static std::unique_ptr<LineEndpoint> watched(std::unique_ptr<LineEndpoint> endpoint,
                                                 QString* error);
    void onReadable();
    void queue(double atMs, const QByteArray& bytes);
    void flushDue();

    struct Pending {
        double atMs;
        QByteArray bytes;
    };

    VirtualController& controller_;
    int fd_;
    int keepOpenFd_; // our own handle on the pty's slave, so that it never reports hang-up
    QString devicePath_;
    int baudRate_ = 0;
    double latencyMs_ = 0;
    double lineFreeAtMs_ = 0;
    std::shared_ptr<LinePoller> poller_;
    std::uint64_t watch_ = 0;
    QTimer timer_;
    std::deque<Pending> output_;
    QByteArray unwritten_;
};

} // namespace kt::sim
