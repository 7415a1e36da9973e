#include "device_port.h"

#include "shell/text_format.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace kt::link {

namespace {

// The line speeds a terminal device takes, by their termios constants.
constexpr std::array<std::pair<int, speed_t>, 30> kSpeeds{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

// The settings in termios form: raw bytes, no flow control, no modem
// lines waited for; false when the speed is none a terminal takes.
bool toTermios(const PortSettings& settings, termios& tio) {
    const auto speed = std::find_if(kSpeeds.begin(), kSpeeds.end(), [&](const auto& entry) {
        return entry.first == settings.baudRate;
    });
    if (speed == kSpeeds.end())
        return false;
    ::cfmakeraw(&tio);
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CREAD | CLOCAL;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[std::clamp(settings.dataBits, 5, 8) - 5];
    switch (settings.parity) {
    case PortSettings::Parity::None:
        break;
    case PortSettings::Parity::Even:
        tio.c_cflag |= PARENB;
        break;
    case PortSettings::Parity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case PortSettings::Parity::Mark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case PortSettings::Parity::Space:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (settings.stopBits != PortSettings::StopBits::One)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed->second);
    ::cfsetospeed(&tio, speed->second);
    return true;
}

// Sets the settings; a terminal that keeps all but the parity and stop
// bits (a pseudo-terminal has none) takes them.
bool applyTermios(int fd, const termios& wanted) {
    if (::tcsetattr(fd, TCSANOW, &wanted) == 0)
        return true;
    if (errno != EINVAL)
        return false;
    termios taken{};
    constexpr tcflag_t kFraming = PARENB | PARODD | CMSPAR | CSTOPB;
    if (::tcgetattr(fd, &taken) == 0 && ::cfgetospeed(&taken) == ::cfgetospeed(&wanted) &&
        (taken.c_cflag & ~kFraming) == (wanted.c_cflag & ~kFraming))
        return true;
    errno = EINVAL;
    return false;
}

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

// The open device, its watches, and what waits to be sent.
struct DevicePort::System {
    explicit System(DevicePort& owner) : port(owner) {}

    DevicePort& port;
    int fd = -1;
    std::unique_ptr<QSocketNotifier> input;
    std::unique_ptr<QSocketNotifier> output;
    QByteArray unsent;
    bool watching = true;
    bool gone = false; // the device failed; its close is on its way

    // Takes what the device holds into the port's buffer, up to what the
    // buffer keeps: a line that floods gets the event loop back between
    // its turns.
    void drain() {
        char chunk[4096];
        for (qsizetype taken = 0; taken < kMaxBuffered;) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got > 0) {
                taken += got;
                port.received_.append(chunk, got);
                keepNewest(port.received_);
                // A short read took all there was; what comes later is
                // for the next.
                if (size_t(got) < sizeof chunk)
                    return;
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            // End of file or an error: the device or the other end went away.
            return goAway(got == 0 ? QStringLiteral("the line was hung up") : systemText(errno));
        }
    }

    // Stops watching the device at once; it closes and says so from the
    // event loop, never inside the read or write that found it gone.
    void goAway(const QString& detail) {
        if (gone)
            return;
        gone = true;
        input->setEnabled(false);
        output->setEnabled(false);
        QMetaObject::invokeMethod(
            &port,
            [this, detail] {
                if (!gone)
                    return;
                port.close();
                port.fail(shell::fillIn(QStringLiteral("The adapter %1%2 went away (%3)."),
                                        {port.device_, port.label_, detail}));
                emit port.lost(port.errorString());
            },
            Qt::QueuedConnection);
    }

    // Writes what waits; what the device does not take yet goes once it
    // is ready for it. False, with a description, when a write fails.
    bool sendUnsent() {
        while (!unsent.isEmpty()) {
            const ssize_t sent = ::write(fd, unsent.constData(), size_t(unsent.size()));
            if (sent > 0) {
                unsent.remove(0, sent);
                continue;
            }
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            const QString detail = systemText(errno);
            goAway(detail);
            return port.fail(
                QStringLiteral("Writing to %1 failed (%2).").arg(port.device_, detail));
        }
        output->setEnabled(!unsent.isEmpty());
        return true;
    }
};

DevicePort::DevicePort(QObject* parent)
    : SerialPort(parent), system_(std::make_unique<System>(*this)) {}

DevicePort::~DevicePort() {
    close();
}

bool DevicePort::open() {
    if (isOpen())
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

    const int fd =
        ::open(QFile::encodeName(device_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int openErrno = errno;
    // One program at a time: another that holds the device (this one, or
    // any that locks it the same way) makes it busy.
    const bool taken = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd < 0 || taken) {
        if (fd >= 0)
            ::close(fd);
        if (fd < 0 && openErrno == ENOENT) {
            setOpenError(OpenError::Missing, device_);
            return fail(QStringLiteral("The device %1%2 does not exist (%3).")
                            .arg(device_, label_, systemText(openErrno)));
        }
        if (taken || openErrno == EBUSY || openErrno == EACCES) {
            setOpenError(OpenError::Busy, device_);
            return fail(QStringLiteral("The device %1%2 is busy: another program is using it. "
                                       "Close that program and try again (%3).")
                            .arg(device_, label_, systemText(taken ? EWOULDBLOCK : openErrno)));
        }
        setOpenError(OpenError::Other, device_);
        return fail(QStringLiteral("The device %1%2 cannot be opened: %3.")
                        .arg(device_, label_, systemText(openErrno)));
    }
    termios tio{};
    const bool terminal = ::isatty(fd) && ::tcgetattr(fd, &tio) == 0;
    if (terminal && !toTermios(chosen, tio)) {
        ::close(fd);
        setOpenError(OpenError::Other, device_);
        return fail(QStringLiteral("The device %1%2 cannot be opened: it does not take the speed "
                                   "%3 baud.")
                        .arg(device_, label_)
                        .arg(chosen.baudRate));
    }
    if (terminal && (!applyTermios(fd, tio) || ::ioctl(fd, TIOCEXCL) != 0)) {
        const int error = errno;
        ::close(fd);
        setOpenError(OpenError::Other, device_);
        return fail(QStringLiteral("The device %1%2 cannot be opened: %3.")
                        .arg(device_, label_, systemText(error)));
    }
    // Bytes that waited in the device before the open are not a reply.
    if (terminal)
        ::tcflush(fd, TCIOFLUSH);

    System& system = *system_;
    system.fd = fd;
    system.gone = false;
    system.watching = true;
    system.input = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(system.input.get(), &QSocketNotifier::activated, this, [this] {
        system_->drain();
        if (!received_.isEmpty())
            emit arrived();
    });
    system.output = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    system.output->setEnabled(false);
    connect(system.output.get(), &QSocketNotifier::activated, this,
            [this] { system_->sendUnsent(); });
    received_.clear();
    setOpenError(OpenError::None, {});
    clearError();
    return true;
}

void DevicePort::close() {
    dropOpen();
    System& system = *system_;
    system.input.reset();
    system.output.reset();
    if (system.fd >= 0) {
        // A pseudo-terminal stays exclusive after its last close: a user
        // other than root could not open it again.
        ::ioctl(system.fd, TIOCNXCL);
        ::close(system.fd);
    }
    system.fd = -1;
    system.unsent.clear();
    system.gone = false;
    received_.clear();
}

bool DevicePort::isOpen() const {
    return system_->fd >= 0;
}

void DevicePort::setWatching(bool watching) {
    System& system = *system_;
    if (system.watching == watching)
        return;
    system.watching = watching;
    if (system.input && !system.gone)
        system.input->setEnabled(watching);
}

QByteArray DevicePort::readAll() {
    if (!isOpen())
        return {};
    if (!system_->gone)
        system_->drain();
    QByteArray data;
    data.swap(received_);
    return data;
}

bool DevicePort::write(const QByteArray& bytes) {
    System& system = *system_;
    if (!isOpen() || system.gone)
        return fail(QStringLiteral("The port is not open."));
    if (system.unsent.size() + bytes.size() > kMaxUnsent)
        return fail(QStringLiteral("Writing to %1 failed.").arg(device_));
    system.unsent += bytes;
    return system.sendUnsent();
}

} // namespace kt::link
