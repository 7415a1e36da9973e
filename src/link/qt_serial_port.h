// A serial device of a POSIX system, on QSerialPort.
#pragma once

#include "port_settings.h"
#include "serial_port.h"

#include <QFile>
#include <QSerialPort>

namespace kt::link {

// The group a user may join to use a device owned by `group` with these
// permissions; empty when joining none helps (root's own group, or a group
// that may not read and write it): then access must be granted.
QString groupToJoin(const QString& group, QFile::Permissions permissions);

class QtSerialPort final : public SerialPort {
    Q_OBJECT
  public:
    explicit QtSerialPort(QObject* parent = nullptr);

    // The device for the next open; `label` names it in messages ("COM3").
    void setDevice(const QString& device, const QString& label);
    bool setSettings(const QByteArray& text) override;
    bool open() override;
    void close() override;
    bool isOpen() const override;
    QByteArray readAll() override;
    bool write(const QByteArray& bytes) override;
    QString errorString() const override { return error_; }

  private:
    void onError(QSerialPort::SerialPortError error);
    // Takes what arrived into `received_`, so that bytes nobody asks for
    // (between requests, or with the port idle) never pile up.
    void drain();
    bool fail(const QString& description);

    QSerialPort port_;
    QString device_;
    QString label_; // " (COM3)" after the device in messages, or empty
    std::optional<PortSettings> settings_;
    QString error_;
    QByteArray received_;
};

} // namespace kt::link
