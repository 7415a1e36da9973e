#include "device_port.h"

#include "shell/text_format.h"

#include <QFileInfo>
#include <QSerialPort>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
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

// Brings a terminal device back to plain raw settings before it is opened.
// A program killed while it held a pseudo-terminal leaves its settings
// behind, and QSerialPort then fails to open the device ("Invalid
// argument") because a pseudo-terminal refuses to take parity. Does nothing
// where there is no such device.
void resetTerminalSettings(const QString& device) {
    const int fd =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    termios tio{};
    if (::isatty(fd) && ::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_iflag = 0;
        tio.c_cflag &= ~tcflag_t(CLOCAL);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ::close(fd);
}

} // namespace

// The QSerialPort, and what it has brought that was not yet taken.
struct DevicePort::System {
    QSerialPort port;

    // Takes what arrived into `received`, so that bytes nobody asks for
    // (between requests, or with the port idle) never pile up.
    void drain(QByteArray& received) {
        received += port.readAll();
        keepNewest(received);
    }
};

DevicePort::DevicePort(QObject* parent) : SerialPort(parent), system_(std::make_unique<System>()) {
    QSerialPort& port = system_->port;
    // Closing inside the error notification itself is not safe, so the
    // reaction is queued; the port stops reading meanwhile.
    connect(
        &port, &QSerialPort::errorOccurred, this,
        [this](QSerialPort::SerialPortError error) {
            // A vanished device reports read errors endlessly while staying
            // open: the first one closes the port.
            if ((error != QSerialPort::ReadError && error != QSerialPort::ResourceError) ||
                !system_->port.isOpen())
                return;
            const QString detail = system_->port.errorString();
            close();
            fail(shell::fillIn(QStringLiteral("The adapter %1%2 went away (%3)."),
                               {device_, label_, detail}));
            emit lost(errorString());
        },
        Qt::QueuedConnection);
    port.setReadBufferSize(kMaxBuffered);
    connect(&port, &QSerialPort::readyRead, this, [this] {
        system_->drain(received_);
        if (!received_.isEmpty())
            emit arrived();
    });
}

DevicePort::~DevicePort() = default;

bool DevicePort::open() {
    QSerialPort& port = system_->port;
    if (port.isOpen())
        close();
    if (device_.isEmpty())
        return fail(QStringLiteral("No port has been chosen."));
    if (!settingsReady())
        return false;
    const PortSettings& chosen = *settings();

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
    port.setPortName(device_);
    port.setBaudRate(chosen.baudRate);
    port.setParity(toQt(chosen.parity));
    port.setDataBits(QSerialPort::DataBits(chosen.dataBits));
    port.setStopBits(toQt(chosen.stopBits));
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError code = port.error();
        const QString detail = port.errorString();
        port.clearError();
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
    port.clear();
    received_.clear();
    setOpenError(OpenError::None, {});
    clearError();
    return true;
}

void DevicePort::close() {
    dropOpen();
    QSerialPort& port = system_->port;
    if (port.isOpen())
        port.close();
    port.clearError();
    received_.clear();
}

bool DevicePort::isOpen() const {
    return system_->port.isOpen();
}

QByteArray DevicePort::readAll() {
    if (!isOpen())
        return {};
    system_->drain(received_);
    QByteArray data;
    data.swap(received_);
    return data;
}

bool DevicePort::write(const QByteArray& bytes) {
    QSerialPort& port = system_->port;
    if (!port.isOpen())
        return fail(QStringLiteral("The port is not open."));
    QByteArray rest = bytes;
    // With nothing queued, the bytes go straight to the device: queuing them
    // switches the port's write watch on and off, two wake-ups of the event
    // loop a request. What the device does not take, or an error, goes the
    // queued way.
    if (port.bytesToWrite() == 0) {
        ssize_t sent;
        while ((sent = ::write(int(port.handle()), bytes.constData(), size_t(bytes.size()))) < 0 &&
               errno == EINTR) {
        }
        if (sent == bytes.size())
            return true;
        if (sent > 0)
            rest = bytes.mid(sent);
    }
    if (port.bytesToWrite() > kMaxUnsent || port.write(rest) != rest.size()) {
        port.clearError();
        return fail(QStringLiteral("Writing to %1 failed.").arg(device_));
    }
    port.flush();
    return true;
}

} // namespace kt::link
