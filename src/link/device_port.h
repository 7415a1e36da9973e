// The port of a serial device of this computer: a terminal device read
// and written without blocking on POSIX systems, the Win32 serial API on
// Windows with overlapped reads that wake the event loop when they complete.
#pragma once

#include "serial_port.h"

#include <QFile>
#include <memory>

namespace kt::link {

class DevicePort final : public SerialPort {
    Q_OBJECT
  public:
    explicit DevicePort(QObject* parent = nullptr);
    ~DevicePort() override;

    // The device for the next open; `label` names it in messages ("COM3").
    void setDevice(const QString& device, const QString& label);
    // Opens at once: true, or false with a description.
    bool open();
    void startOpen(Clock& clock, std::function<void(bool)> done) override {
        reportAtOnce(clock, open(), std::move(done));
    }
    void close() override;
    bool isOpen() const override;
    QByteArray readAll() override;
    void setWatching(bool watching) override;
    bool write(const QByteArray& bytes) override;

  private:
    // The system's side of the port: its handle and the operations under way.
    struct System;

    std::unique_ptr<System> system_;
    QString device_;
    QString label_; // " (COM3)" after the device in messages, or empty
    QByteArray received_;
};

// The group a user may join to use a device owned by `group` with these
// permissions; empty when joining none helps (root's own group, or a group
// that may not read and write it): then access must be granted.
QString groupToJoin(const QString& group, QFile::Permissions permissions);

} // namespace kt::link
