#include "line_port.h"

#include "device_port.h"
#include "tcp_port.h"

namespace kt::link {

LinePort::LinePort(QString iniFile, QObject* parent)
    : SerialPort(parent), iniFile_(std::move(iniFile)) {}

LinePort::~LinePort() = default;

bool LinePort::setPortNumber(int number) {
    return setPortName(QStringLiteral("COM%1").arg(number));
}

bool LinePort::setPortName(const QString& name) {
    const shell::Result<PortAddress> address = parsePortName(name, iniFile_);
    address_ = address ? std::optional(*address) : std::nullopt;
    if (!address)
        error_ = address.error().message;
    return address.ok();
}

bool LinePort::setSettings(const QByteArray& text) {
    if (const shell::Result<PortSettings> parsed = parsePortSettings(text); !parsed) {
        error_ = parsed.error().message;
        return false;
    }
    settings_ = text;
    return true;
}

bool LinePort::open() {
    close();
    if (!address_) {
        if (error_.isEmpty())
            error_ = QStringLiteral("No port has been chosen.");
        setOpenError(OpenError::Other, {});
        return false;
    }
    if (address_->kind == PortAddress::Kind::Device) {
        line_ = makeDevicePort(address_->device, address_->label);
    } else {
        auto server = std::make_unique<TcpPort>();
        server->setTarget(address_->host, address_->tcpPort,
                          address_->kind == PortAddress::Kind::Rfc2217, address_->label);
        line_ = std::move(server);
    }
    connect(line_.get(), &SerialPort::lost, this, &SerialPort::lost);
    connect(line_.get(), &SerialPort::arrived, this, &SerialPort::arrived);
    if (line_->setSettings(settings_) && line_->open()) {
        setOpenError(OpenError::None, {});
        return true;
    }
    error_ = line_->errorString();
    setOpenError(line_->openError() == OpenError::None ? OpenError::Other : line_->openError(),
                 line_->errorDevice(), line_->errorGroup(), line_->errorReason());
    line_.reset();
    return false;
}

void LinePort::close() {
    if (line_)
        line_->close();
}

bool LinePort::isOpen() const {
    return line_ && line_->isOpen();
}

QByteArray LinePort::readAll() {
    return line_ ? line_->readAll() : QByteArray();
}

bool LinePort::write(const QByteArray& bytes) {
    if (!line_) {
        error_ = QStringLiteral("The port is not open.");
        return false;
    }
    return line_->write(bytes);
}

QString LinePort::errorString() const {
    return line_ ? line_->errorString() : error_;
}

} // namespace kt::link
