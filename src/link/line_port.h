// The program's port: COM1..COM8 as Language.ini maps them, a device path,
// or a serial device server (tcp://, socket://, rfc2217://). It opens the
// kind of line the name asks for and passes everything on to it.
#pragma once

#include "port_naming.h"
#include "serial_port.h"

#include <memory>

namespace kt::link {

class LinePort final : public SerialPort {
    Q_OBJECT
  public:
    // `iniFile` is Language.ini, where COMn may be mapped.
    explicit LinePort(QString iniFile, QObject* parent = nullptr);
    ~LinePort() override;

    // Chooses COM1..COM8, or any port name, for the next open. False, with
    // a description, when the name names no port.
    bool setPortNumber(int number);
    bool setPortName(const QString& name);
    // How messages name the chosen port.
    QString label() const { return address_ ? address_->label : QString(); }

    void startOpen(Clock& clock, std::function<void(bool)> done) override;
    bool isOpening() const override;
    void close() override;
    bool isOpen() const override;
    QByteArray readAll() override;
    void setWatching(bool watching) override;
    bool write(const QByteArray& bytes) override;
    QString errorString() const override;
    bool isServer() const override {
        return address_ && address_->kind != PortAddress::Kind::Device;
    }

  private:
    QString iniFile_;
    std::optional<PortAddress> address_;
    std::unique_ptr<SerialPort> line_;
};

} // namespace kt::link
