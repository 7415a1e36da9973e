#include "clock.h"

#include "wake_timer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <map>

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
    // more. Without a system timer, Qt's timers have whole-millisecond
    // resolution: they are set a millisecond and a half early.
    static constexpr double kQtTimerLeadMs = 1.5;
    double leadMs = 0;
    double expiryMs = 0;    // when the timer was set to go off
    bool learnable = false; // it was set for a moment ahead: its lateness tells

    WakeTimer timer{[this] {
        if (learnable)
            learn(nowMs() - expiryMs);
        fire();
    }};
    std::unique_ptr<QTimer> qtTimer;

    void learn(double lateMs) {
        constexpr double kStepMs = 0.005;
        leadMs =
            std::clamp(leadMs + (lateMs < leadMs ? -0.9 : 0.1) * kStepMs, 0.0, timer.maxLeadMs());
    }

    // Sets the timer for the first call, a lead early; none when no call waits.
    void arm() {
        if (calls.empty())
            return disarm();
        const double deadline = calls.begin()->first.first;
        if (timer.available()) {
            expiryMs = deadline - leadMs;
            learnable = expiryMs > nowMs();
            timer.setIn(expiryMs - nowMs());
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
        timer.stop();
        if (qtTimer)
            qtTimer->stop();
    }
    double earlyLimitMs() const { return qtTimer ? kQtTimerLeadMs : leadMs; }

    // Makes every call that is due, sleeping the last moment before one
    // that is due within the timer's lead; then sets the timer for the rest.
    void fire() {
        while (!calls.empty()) {
            const auto first = calls.begin();
            const double remaining = first->first.first - nowMs();
            if (remaining > earlyLimitMs())
                break;
            WakeTimer::sleep(remaining);
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
    WakeTimer::preferPrecision();
}

EventLoopClock::~EventLoopClock() {
    WakeTimer::dropPrecision();
}

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
