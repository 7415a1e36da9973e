#include "wake_timer.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace kt::link {

// A timerfd: the kernel's high-resolution timers wake within tens of
// microseconds, closer still with the slack set by preferPrecision().
struct WakeTimer::System {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

WakeTimer::WakeTimer(std::function<void()> fired) : fired_(std::move(fired)) {}

WakeTimer::~WakeTimer() {
    if (system_) {
        system_->notifier.reset();
        ::close(system_->fd);
    }
}

bool WakeTimer::available() {
    if (system_)
        return true;
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0)
        return false;
    system_ = std::make_unique<System>();
    system_->fd = fd;
    system_->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(system_->notifier.get(), &QSocketNotifier::activated, [this] {
        quint64 expirations = 0;
        while (::read(system_->fd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
        }
        fired_();
    });
    return true;
}

void WakeTimer::setIn(double ms) {
    const qint64 ns = std::max<qint64>(1, qint64(ms * 1e6));
    const itimerspec when{{0, 0}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
    ::timerfd_settime(system_->fd, 0, &when, nullptr);
}

void WakeTimer::stop() {
    if (!system_)
        return;
    const itimerspec never{};
    ::timerfd_settime(system_->fd, 0, &never, nullptr);
}

double WakeTimer::maxLeadMs() const {
    return 0.5;
}

void WakeTimer::sleep(double ms) {
    if (ms <= 0)
        return;
    const qint64 ns = qint64(ms * 1e6);
    timespec left{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void WakeTimer::preferPrecision() {
    // The calls of a job are timed in tenths of milliseconds: the thread's
    // timers may be late by a microsecond, not the default 50.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
}

void WakeTimer::dropPrecision() {
    // Zero sets the thread's default slack again.
    ::prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
}

} // namespace kt::link
