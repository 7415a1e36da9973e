// The serial port of the program, on QSerialPort.
#pragma once

#include "port_settings.h"
#include "serial_port.h"

#include <QSerialPort>

namespace kt::link {

class QtSerialPort final : public SerialPort {
    Q_OBJECT
  public:
    // `iniFile` is Language.ini, where COMn may be mapped to a device path.
    explicit QtSerialPort(QString iniFile, QObject* parent = nullptr);

    bool setPortNumber(int number) override;
    bool setSettings(const QByteArray& text) override;
    bool open() override;
    void close() override;
    bool isOpen() const override;
    QByteArray readAll() override;
    bool write(const QByteArray& bytes) override;
    QString errorString() const override { return error_; }

    // The device path the chosen port number maps to.
    QString device() const { return device_; }

  private:
    void onError(QSerialPort::SerialPortError error);
    bool fail(const QString& description);

    QString iniFile_;
    QSerialPort port_;
    int number_ = 0;
    QString device_;
    std::optional<PortSettings> settings_;
    QString error_;
};

} // namespace kt::link
