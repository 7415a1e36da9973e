#include "qt_serial_port.h"

#include "shell/text_format.h"
#include "tty_reset.h"

#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace kt::link {

namespace {

QSerialPort::Parity toQt(PortSettings::Parity parity) {
    switch (parity) {
    case PortSettings::Parity::None:
        return QSerialPort::NoParity;
    case PortSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case PortSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case PortSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case PortSettings::Parity::Space:
        break;
    }
    return QSerialPort::SpaceParity;
}

QSerialPort::StopBits toQt(PortSettings::StopBits stopBits) {
    switch (stopBits) {
    case PortSettings::StopBits::One:
        return QSerialPort::OneStop;
    case PortSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case PortSettings::StopBits::Two:
        break;
    }
    return QSerialPort::TwoStop;
}

} // namespace

QtSerialPort::QtSerialPort(QObject* parent) : SerialPort(parent) {
    // Closing inside the error notification itself is not safe, so the
    // reaction is queued; the port stops reading meanwhile.
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError,
            Qt::QueuedConnection);
    port_.setReadBufferSize(kMaxBuffered);
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        drain();
        if (!received_.isEmpty())
            emit arrived();
    });
}

void QtSerialPort::drain() {
    received_ += port_.readAll();
    keepNewest(received_);
}

bool QtSerialPort::fail(const QString& description) {
    error_ = description;
    return false;
}

void QtSerialPort::setDevice(const QString& device, const QString& label) {
    device_ = device;
    label_ = label == device ? QString() : QStringLiteral(" (%1)").arg(label);
}

bool QtSerialPort::setSettings(const QByteArray& text) {
    const shell::Result<PortSettings> parsed = parsePortSettings(text);
    settings_ = parsed ? std::optional(*parsed) : std::nullopt;
    return parsed ? true : fail(parsed.error().message);
}

bool QtSerialPort::open() {
    if (port_.isOpen())
        close();
    if (device_.isEmpty())
        return fail(QStringLiteral("No port has been chosen."));
    if (!settings_)
        return error_.isEmpty() ? fail(QStringLiteral("No settings have been given.")) : false;

    const QFileInfo info(device_);
    if (!info.exists()) {
        setOpenError(OpenError::Missing, device_);
        return fail(QStringLiteral("The device %1%2 does not exist. Check that the serial "
                                   "adapter is plugged in, or name the right device (under key "
                                   "COMn of section COMMUNICATION in Language.ini for COMn).")
                        .arg(device_, label_));
    }
    if (!info.isReadable() || !info.isWritable()) {
        const QString group = groupToJoin(info.group(), info.permissions());
        if (group.isEmpty()) {
            setOpenError(OpenError::Denied, device_);
            return fail(shell::fillIn(
                QStringLiteral("Permission denied on %1%2, which no group but root's may use. A "
                               "udev rule or the administrator must grant this user access to it."),
                {device_, label_}));
        }
        setOpenError(OpenError::Denied, device_, group);
        return fail(shell::fillIn(QStringLiteral("Permission denied on %1%2. The user must be a "
                                                 "member of the group %3 that owns the device: "
                                                 "sudo usermod -aG %3 $USER, then log in again."),
                                  {device_, label_, group}));
    }

    resetTerminalSettings(device_);
    // Settings are given before the open: some devices (pseudo-terminals)
    // refuse changes once open.
    port_.setPortName(device_);
    port_.setBaudRate(settings_->baudRate);
    port_.setParity(toQt(settings_->parity));
    port_.setDataBits(QSerialPort::DataBits(settings_->dataBits));
    port_.setStopBits(toQt(settings_->stopBits));
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError code = port_.error();
        const QString detail = port_.errorString();
        port_.clearError();
        setOpenError(code == QSerialPort::DeviceNotFoundError ? OpenError::Missing
                     : code == QSerialPort::PermissionError   ? OpenError::Busy
                                                              : OpenError::Other,
                     device_);
        if (code == QSerialPort::DeviceNotFoundError)
            return fail(QStringLiteral("The device %1%2 does not exist (%3).")
                            .arg(device_, label_, detail));
        if (code == QSerialPort::PermissionError)
            return fail(QStringLiteral("The device %1%2 is busy: another program is using it. "
                                       "Close that program and try again (%3).")
                            .arg(device_, label_, detail));
        return fail(
            QStringLiteral("The device %1%2 cannot be opened: %3.").arg(device_, label_, detail));
    }
    // Bytes that waited in the device before the open are not a reply.
    port_.clear();
    received_.clear();
    setOpenError(OpenError::None, {});
    error_.clear();
    return true;
}

QString groupToJoin(const QString& group, QFile::Permissions permissions) {
    const bool groupMayUse = permissions.testFlags(QFile::ReadGroup | QFile::WriteGroup);
    return group.isEmpty() || group == QLatin1String("root") || !groupMayUse ? QString() : group;
}

void QtSerialPort::close() {
    if (port_.isOpen())
        port_.close();
    port_.clearError();
    received_.clear();
}

bool QtSerialPort::isOpen() const {
    return port_.isOpen();
}

QByteArray QtSerialPort::readAll() {
    if (!port_.isOpen())
        return {};
    drain();
    QByteArray data;
    data.swap(received_);
    return data;
}

bool QtSerialPort::write(const QByteArray& bytes) {
    if (!port_.isOpen())
        return fail(QStringLiteral("The port is not open."));
    QByteArray rest = bytes;
    // With nothing queued, the bytes go straight to the device: queuing them
    // switches the port's write watch on and off, two wake-ups of the event
    // loop a request. What the device does not take, or an error, goes the
    // queued way.
    if (port_.bytesToWrite() == 0) {
        ssize_t sent;
        while ((sent = ::write(int(port_.handle()), bytes.constData(), size_t(bytes.size()))) < 0 &&
               errno == EINTR) {
        }
        if (sent == bytes.size())
            return true;
        if (sent > 0)
            rest = bytes.mid(sent);
    }
    if (port_.bytesToWrite() > kMaxUnsent || port_.write(rest) != rest.size()) {
        port_.clearError();
        return fail(QStringLiteral("Writing to %1 failed.").arg(device_));
    }
    port_.flush();
    return true;
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    // A vanished device reports read errors endlessly while staying open:
    // the first one closes the port.
    if ((error != QSerialPort::ReadError && error != QSerialPort::ResourceError) || !port_.isOpen())
        return;
    const QString detail = port_.errorString();
    close();
    fail(shell::fillIn(QStringLiteral("The adapter %1%2 went away (%3)."),
                       {device_, label_, detail}));
    emit lost(error_);
}

} // namespace kt::link
