#include "line_endpoint.h"

#include "link/port_settings.h"

#include <QElapsedTimer>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace kt::sim {

namespace {

double nowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed() / 1e6;
}

speed_t toSpeed(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

} // namespace

LineEndpoint::LineEndpoint(VirtualController& controller, int fd, int keepOpenFd,
                           QString devicePath)
    : controller_(controller), fd_(fd), keepOpenFd_(keepOpenFd),
      devicePath_(std::move(devicePath)) {
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    poller_ = LinePoller::ofThisThread();
    watch_ = poller_->watch(
        fd_, [this] { onReadable(); }, [this] { flushDue(); });
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &LineEndpoint::flushDue);
}

LineEndpoint::~LineEndpoint() {
    hangUp();
}

std::unique_ptr<LineEndpoint> LineEndpoint::createPty(VirtualController& controller,
                                                      QString* error) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(strerror(errno));
        return nullptr;
    }
    // Raw, so that CR stays CR and nothing is echoed back.
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return watched(std::unique_ptr<LineEndpoint>(
                       new LineEndpoint(controller, master, slave, QString::fromLocal8Bit(name))),
                   error);
}

std::unique_ptr<LineEndpoint> LineEndpoint::openDevice(VirtualController& controller,
                                                       const QString& path,
                                                       const QByteArray& settings, QString* error) {
    const shell::Result<link::PortSettings> s = link::parsePortSettings(settings);
    if (!s) {
        *error = s.error().message;
        return nullptr;
    }
    if (toSpeed(s->baudRate) == B0) {
        *error = QStringLiteral("unsupported baud rate %1").arg(s->baudRate);
        return nullptr;
    }
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, strerror(errno));
        return nullptr;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, toSpeed(s->baudRate));
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[s->dataBits - 5];
    using Parity = link::PortSettings::Parity;
    if (s->parity != Parity::None)
        tio.c_cflag |= PARENB;
    if (s->parity == Parity::Odd)
        tio.c_cflag |= PARODD;
    if (s->stopBits != link::PortSettings::StopBits::One)
        tio.c_cflag |= CSTOPB;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        *error = QStringLiteral("cannot configure %1: %2").arg(path, strerror(errno));
        ::close(fd);
        return nullptr;
    }
    tcflush(fd, TCIOFLUSH);
    return watched(std::unique_ptr<LineEndpoint>(new LineEndpoint(controller, fd, -1, path)),
                   error);
}

std::unique_ptr<LineEndpoint> LineEndpoint::watched(std::unique_ptr<LineEndpoint> endpoint,
                                                    QString* error) {
    if (endpoint->watch_ != 0)
        return endpoint;
    *error = QStringLiteral("cannot watch %1: %2").arg(endpoint->devicePath_, strerror(errno));
    return nullptr;
}

void LineEndpoint::hangUp() {
    poller_->forget(watch_);
    watch_ = 0;
    timer_.stop();
    output_.clear();
    unwritten_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    if (keepOpenFd_ >= 0)
        ::close(keepOpenFd_);
    fd_ = keepOpenFd_ = -1;
}

void LineEndpoint::onReadable() {
    char buffer[4096];
    QByteArray bytes;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (bytes.isEmpty())
        return;
    emit received(bytes);
    // Paced, a reply starts only when the request would have crossed the line.
    const double now = nowMs() + (baudRate_ > 0 ? bytes.size() * 11000.0 / baudRate_ : 0);
    for (const Chunk& chunk : controller_.receive(bytes))
        queue(now + chunk.delayMs, chunk.bytes);
    flushDue();
}

void LineEndpoint::send(const QByteArray& bytes) {
    queue(nowMs(), bytes);
    flushDue();
}

void LineEndpoint::queue(double atMs, const QByteArray& bytes) {
    // An adapter passes on what it holds at each tick of its timer.
    const auto released = [this](double at) {
        return latencyMs_ > 0 ? std::ceil(at / latencyMs_) * latencyMs_ : at;
    };
    if (baudRate_ <= 0) {
        output_.push_back({released(atMs), bytes});
        return;
    }
    // Each byte is complete on the line 11 bit times after the previous one.
    const double byteMs = 11000.0 / baudRate_;
    double at = std::max(atMs, lineFreeAtMs_);
    for (const char byte : bytes) {
        at += byteMs;
        output_.push_back({released(at), QByteArray(1, byte)});
    }
    lineFreeAtMs_ = at;
}

void LineEndpoint::flushDue() {
    if (fd_ < 0)
        return;
    const double now = nowMs();
    while (!output_.empty() && output_.front().atMs <= now) {
        unwritten_ += output_.front().bytes;
        output_.pop_front();
    }
    while (!unwritten_.isEmpty()) {
        const ssize_t n = ::write(fd_, unwritten_.constData(), size_t(unwritten_.size()));
        if (n > 0) {
            unwritten_.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break; // the line is full: go on when it can take more
        } else {
            unwritten_.clear(); // nobody at the other end
        }
    }
    poller_->wantWrites(watch_, !unwritten_.isEmpty());
    if (!output_.empty())
        timer_.start(std::max(0, int(std::ceil(output_.front().atMs - now))));
}

} // namespace kt::sim
