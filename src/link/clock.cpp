#include "clock.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <map>

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

void ClockCall::at(double deadlineMs, std::function<void()> action) {
    cancel();
    id_ = clock_.callAt(deadlineMs, [this, action = std::move(action)] {
        id_ = 0;
        action();
    });
}

void ClockCall::cancel() {
    if (id_ != 0)
        clock_.cancelCall(id_);
    id_ = 0;
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

    // The calls to make, by deadline and then by the order they came in.
    std::map<std::pair<double, CallId>, std::function<void()>> calls;
    std::map<CallId, double> deadlines;
    CallId lastId = 0;

    // The event loop runs again some tens of microseconds after a timer
    // goes off, more in a virtual machine. The timer is set that much
    // early: the tenth percentile of the delays seen, so that nine calls in
    // ten come just after their deadline, and one in ten sleeps a moment
    // more. Without a kernel timer, Qt's timers have whole-millisecond
    // resolution: they are set a millisecond and a half early.
    static constexpr double kMaxLeadMs = 0.5;
    static constexpr double kQtTimerLeadMs = 1.5;
    double leadMs = 0;
    double expiryMs = 0;    // when the timer was set to go off
    bool learnable = false; // it was set for a moment ahead: its lateness tells

#ifdef Q_OS_LINUX
    int timer = -1;
    std::unique_ptr<QSocketNotifier> fired;
#endif
    std::unique_ptr<QTimer> qtTimer;

    ~Private() {
#ifdef Q_OS_LINUX
        fired.reset();
        if (timer >= 0)
            ::close(timer);
#endif
    }

    // The kernel timer, made at the first call, when the event loop exists.
    bool haveTimer() {
#ifdef Q_OS_LINUX
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
            if (learnable)
                learn(nowMs() - expiryMs);
            fire();
        });
        return true;
#else
        return false;
#endif
    }
    void learn(double lateMs) {
        constexpr double kStepMs = 0.005;
        leadMs = std::clamp(leadMs + (lateMs < leadMs ? -0.9 : 0.1) * kStepMs, 0.0, kMaxLeadMs);
    }

    // Sets the timer for the first call, a lead early; none when no call waits.
    void arm() {
        if (calls.empty())
            return disarm();
        const double deadline = calls.begin()->first.first;
        if (haveTimer()) {
#ifdef Q_OS_LINUX
            expiryMs = deadline - leadMs;
            learnable = expiryMs > nowMs();
            const qint64 ns = qMax<qint64>(1, qint64((expiryMs - nowMs()) * 1e6));
            const itimerspec when{{0, 0}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
            ::timerfd_settime(timer, 0, &when, nullptr);
#endif
            return;
        }
        if (!qtTimer) {
            qtTimer = std::make_unique<QTimer>();
            qtTimer->setSingleShot(true);
            qtTimer->setTimerType(Qt::PreciseTimer);
            QObject::connect(qtTimer.get(), &QTimer::timeout, [this] { fire(); });
        }
        qtTimer->start(int(std::max(0.0, deadline - kQtTimerLeadMs - nowMs())));
    }
    void disarm() {
#ifdef Q_OS_LINUX
        if (timer >= 0) {
            const itimerspec never{};
            ::timerfd_settime(timer, 0, &never, nullptr);
        }
#endif
        if (qtTimer)
            qtTimer->stop();
    }
    double earlyLimitMs() const {
        return haveTimerNow() ? leadMs : kQtTimerLeadMs;
    }
    bool haveTimerNow() const {
#ifdef Q_OS_LINUX
        return timer >= 0;
#else
        return false;
#endif
    }

    // Makes every call that is due, sleeping the last moment before one
    // that is due within the timer's lead; then sets the timer for the rest.
    void fire() {
        while (!calls.empty()) {
            const auto first = calls.begin();
            const double remaining = first->first.first - nowMs();
            if (remaining > earlyLimitMs())
                break;
            sleepPrecisely(remaining);
            const std::function<void()> action = std::move(first->second);
            deadlines.erase(first->first.second);
            calls.erase(first);
            action(); // may ask for calls, or drop them
        }
        arm();
    }
};

EventLoopClock::EventLoopClock() : d(std::make_unique<Private>()) {
    d->elapsed.start();
#ifdef Q_OS_LINUX
    // The calls of a job are timed in tenths of milliseconds: the thread's
    // timers may be late by a microsecond, not the default 50.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
#endif
}

EventLoopClock::~EventLoopClock() = default;

double EventLoopClock::nowMs() const {
    return d->nowMs();
}

Clock::CallId EventLoopClock::callAt(double deadlineMs, std::function<void()> action) {
    const CallId id = ++d->lastId;
    const bool first = d->calls.empty() || deadlineMs < d->calls.begin()->first.first;
    d->calls.emplace(std::pair(deadlineMs, id), std::move(action));
    d->deadlines.emplace(id, deadlineMs);
    // Also from inside a call: a modal box opened there runs the loop, and
    // calls asked for meanwhile must still come.
    if (first)
        d->arm();
    return id;
}

void EventLoopClock::cancelCall(CallId id) {
    const auto found = d->deadlines.find(id);
    if (found == d->deadlines.end())
        return;
    d->calls.erase(std::pair(found->second, id));
    d->deadlines.erase(found);
    // A timer set for a call that went only wakes the loop once for nothing.
}

} // namespace kt::link
