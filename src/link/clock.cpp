#include "clock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

#ifdef Q_OS_UNIX
#include <time.h>
#endif
#ifdef Q_OS_LINUX
#include <QSocketNotifier>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace kt::link {

void Delay(Clock& clock, float ms) {
    const double start = clock.nowMs();
    clock.waitUntil(start + std::round(double(ms)), [] { return false; });
}

namespace {

// Sleeps `ms` without spinning: the kernel's high-resolution timers wake
// within tens of microseconds, closer still with the slack set below.
void sleepPrecisely(double ms) {
    if (ms <= 0)
        return;
#ifdef Q_OS_UNIX
    const qint64 ns = qint64(ms * 1e6);
    timespec left{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
#else
    QThread::usleep(qMax<unsigned long>(1, (unsigned long)(ms * 1000)));
#endif
}

} // namespace

struct EventLoopClock::Private {
    QElapsedTimer elapsed;
    double nowMs() const { return elapsed.nsecsElapsed() / 1e6; }
#ifdef Q_OS_LINUX
    // A kernel timer that wakes the event loop near the deadline: one
    // wake-up a wait. Made at the first wait, when the event loop exists.
    int timer = -1;
    std::unique_ptr<QSocketNotifier> fired;
    // The deadline the timer is set for; NaN when it is not set (it went
    // off, or a nested wait set it for its own deadline).
    double armedMs = std::nan("");
    double expiryMs = 0; // when it goes off: leadMs before the deadline
    // The loop runs again some tens of microseconds after the timer goes
    // off, more in a virtual machine. The timer is set that much early:
    // the tenth percentile of the delays seen, so that nine waits in ten
    // end just after their deadline, and one in ten sleeps a moment more.
    static constexpr double kMaxLeadMs = 0.5;
    double leadMs = 0;

    ~Private() {
        fired.reset();
        if (timer >= 0)
            ::close(timer);
    }
    bool haveTimer() {
        if (timer >= 0)
            return true;
        timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (timer < 0)
            return false;
        fired = std::make_unique<QSocketNotifier>(timer, QSocketNotifier::Read);
        QObject::connect(fired.get(), &QSocketNotifier::activated, [this] {
            quint64 expirations = 0;
            while (::read(timer, &expirations, sizeof expirations) < 0 && errno == EINTR) {
            }
            learn(nowMs() - expiryMs);
            armedMs = std::nan("");
        });
        return true;
    }
    void learn(double lateMs) {
        constexpr double kStepMs = 0.005;
        leadMs = std::clamp(leadMs + (lateMs < leadMs ? -0.9 : 0.1) * kStepMs, 0.0, kMaxLeadMs);
    }
    void arm(double deadlineMs) {
        if (armedMs == deadlineMs)
            return;
        expiryMs = deadlineMs - leadMs;
        const qint64 ns = qMax<qint64>(1, qint64((expiryMs - nowMs()) * 1e6));
        const itimerspec when{{0, 0}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
        ::timerfd_settime(timer, 0, &when, nullptr);
        armedMs = deadlineMs;
    }
#endif
};

EventLoopClock::EventLoopClock() : d(std::make_unique<Private>()) {
    d->elapsed.start();
#ifdef Q_OS_LINUX
    // The waits of a job are measured in tenths of milliseconds: the
    // thread's timers may be late by a microsecond, not the default 50.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
#endif
}

EventLoopClock::~EventLoopClock() = default;

double EventLoopClock::nowMs() const {
    return d->nowMs();
}

bool EventLoopClock::waitUntil(double deadlineMs, const std::function<bool()>& ready) {
    // Without a kernel timer, timers have whole-millisecond resolution and
    // wake a little late, so the loop sleeps in the event loop until about
    // a millisecond before the deadline, and sleeps the rest precisely.
    constexpr double kFineMs = 1.5;
    std::optional<QTimer> wake;
    for (;;) {
        if (ready())
            return true;
        const double remaining = deadlineMs - nowMs();
        if (remaining <= 0)
            return false;
#ifdef Q_OS_LINUX
        if (d->haveTimer()) {
            // Input and clicks wake the loop too. The last moment, shorter
            // than the timer's usual delay, is slept precisely.
            if (remaining > d->leadMs) {
                d->arm(deadlineMs);
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            } else {
                sleepPrecisely(remaining);
            }
            continue;
        }
#endif
        if (remaining > kFineMs) {
            // The timer only wakes the loop; input and clicks wake it too.
            if (!wake) {
                wake.emplace();
                wake->setSingleShot(true);
                wake->setTimerType(Qt::PreciseTimer);
            }
            wake->start(int(remaining - kFineMs) + 1);
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            continue;
        }
        // Events of the last moment wait for the next wait: a precise sleep
        // costs one system call, a poll for them another.
        sleepPrecisely(remaining);
    }
}

} // namespace kt::link
