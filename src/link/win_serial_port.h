// A serial device of Windows (COM1, COM5 ...), on overlapped I/O that wakes
// the event loop when a read completes.
#pragma once

#include "port_settings.h"
#include "serial_port.h"

#include <memory>
#include <optional>

class QWinEventNotifier;

namespace kt::link {

class WinSerialPort final : public SerialPort {
    Q_OBJECT
  public:
    explicit WinSerialPort(QObject* parent = nullptr);
    ~WinSerialPort() override;

    // The device for the next open ("COM5"); `label` names it in messages.
    void setDevice(const QString& device, const QString& label);
    bool setSettings(const QByteArray& text) override;
    bool open() override;
    void close() override;
    bool isOpen() const override;
    QByteArray readAll() override;
    bool write(const QByteArray& bytes) override;
    QString errorString() const override { return error_; }

  private:
    // The handle of the open port, its read and write operations and the
    // read buffer; it lives from a successful open to the close.
    struct Io;

    // Error codes below are Windows system error codes (DWORD); 0 is none.
    // Moves what finished reads brought into `received_` and keeps one read
    // outstanding; `fresh` tells whether bytes came. Returns the read error.
    unsigned long pump(bool& fresh);
    void onReadDone();
    bool writeFailed(unsigned long error);
    // Closes the port that failed in use; returns the description.
    QString goneAway(unsigned long error);
    // Emits lost() from the event loop, unless the port was closed or
    // reopened meanwhile.
    void queueLost(const QString& description);
    // Closes without counting as the caller's close.
    void shutDown();
    bool fail(const QString& description);

    std::unique_ptr<Io> io_;
    QWinEventNotifier* readDone_; // signals a completed read
    QString device_;
    QString label_; // " (COM3)" after the device in messages, or empty
    std::optional<PortSettings> settings_;
    QString error_;
    QByteArray received_;
    // Counts opens and closes, so that a loss noticed during a call and
    // reported later is dropped once the caller has closed or reopened.
    quint64 generation_ = 0;
};

} // namespace kt::link
