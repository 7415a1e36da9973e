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
    return address ? true : fail(address.error().message);
}

void LinePort::startOpen(Clock& clock, std::function<void(bool)> done) {
    close();
    line_.reset();
    if (!address_ || !settingsReady()) {
        if (!address_ && SerialPort::errorString().isEmpty())
            fail(QStringLiteral("No port has been chosen."));
        setOpenError(OpenError::Other, {});
        return reportAtOnce(clock, false, std::move(done));
    }
    if (address_->kind == PortAddress::Kind::Device) {
        auto device = std::make_unique<DevicePort>();
        device->setDevice(address_->device, address_->label);
        line_ = std::move(device);
    } else {
        auto server = std::make_unique<TcpPort>();
        server->setTarget(address_->host, address_->tcpPort,
                          address_->kind == PortAddress::Kind::Rfc2217, address_->label);
        line_ = std::move(server);
    }
    connect(line_.get(), &SerialPort::lost, this, &SerialPort::lost);
    connect(line_.get(), &SerialPort::arrived, this, &SerialPort::arrived);
    line_->setSettings(*settings());
    // The line reports from the clock: the report goes on as it is.
    line_->startOpen(clock, [this, done = std::move(done)](bool opened) {
        if (opened) {
            setOpenError(OpenError::None, {});
            return done(true);
        }
        const SerialPort& line = *line_;
        fail(line.errorString());
        setOpenError(line.openError() == OpenError::None ? OpenError::Other : line.openError(),
                     line.errorDevice(), line.errorGroup(), line.errorReason());
        // The line's clock call that makes this report touches nothing of
        // the line after it.
        line_.reset();
        done(false);
    });
}

void LinePort::close() {
    dropOpen();
    if (line_)
        line_->close();
}

bool LinePort::isOpening() const {
    return SerialPort::isOpening() || (line_ && line_->isOpening());
}

bool LinePort::isOpen() const {
    return line_ && line_->isOpen();
}

QByteArray LinePort::readAll() {
    return line_ ? line_->readAll() : QByteArray();
}

void LinePort::setWatching(bool watching) {
    if (line_)
        line_->setWatching(watching);
}

bool LinePort::write(const QByteArray& bytes) {
    return line_ ? line_->write(bytes) : fail(QStringLiteral("The port is not open."));
}

QString LinePort::errorString() const {
    return line_ ? line_->errorString() : SerialPort::errorString();
}

} // namespace kt::link
