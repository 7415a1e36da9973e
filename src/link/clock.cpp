#include "clock.h"

#include "wake_timer.h"

#include <QElapsedTimer>
#include <QObject>
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
    bool armed = false;     // it is set for expiryMs and has not gone off
    bool learnable = false; // it was set for a moment ahead: its lateness tells

    WakeTimer timer{[this] {
        armed = false;
        if (learnable)
            learn(nowMs() - expiryMs);
        fire();
    }};
    std::unique_ptr<QTimer> qtTimer;
    // A call already due is made at the event loop's next turn, asked for
    // by a posted event: a system timer set to go off at once would cost
    // the reprogramming of the machine's timer and an interrupt.
    QObject turns;
    bool turnAsked = false;
    void askTurn() {
        if (turnAsked)
            return;
        turnAsked = true;
        QMetaObject::invokeMethod(
            &turns,
            [this] {
                turnAsked = false;
                fire();
            },
            Qt::QueuedConnection);
    }

    void learn(double lateMs) {
        constexpr double kStepMs = 0.005;
        leadMs =
            std::clamp(leadMs + (lateMs < leadMs ? -0.9 : 0.1) * kStepMs, 0.0, timer.maxLeadMs());
    }

    // Calls asked for or dropped while calls are made move the timer once,
    // when they are done: a request that sets a time-out and drops it in
    // one go never reprograms the system's timer for it. Elsewhere the
    // timer moves at once.
    bool firing = false;
    void schedule() {
        if (!firing)
            arm();
    }

    // Sets the timer for the first call, a lead early; none when no call
    // waits. Each setting reprograms the system's timer, which costs more
    // than the rest of a record's work: a timer already set for that moment
    // is left as it is.
    void arm() {
        if (calls.empty())
            return disarm();
        const double deadline = calls.begin()->first.first;
        if (deadline - earlyLimitMs() <= nowMs())
            return askTurn(); // a timer set for later may go off for nothing
        if (timer.available()) {
            if (armed && expiryMs == deadline - leadMs)
                return;
            expiryMs = deadline - leadMs;
            armed = true;
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
        if (armed)
            timer.stop();
        armed = false;
        if (qtTimer)
            qtTimer->stop();
    }
    double earlyLimitMs() const { return qtTimer ? kQtTimerLeadMs : leadMs; }

    // Makes the calls that were due when it began, sleeping the last moment
    // before one that is due within the timer's lead; then sets the timer
    // for the rest. Calls asked for meanwhile wait for the next pass, so
    // that a chain of calls due at once lets the event loop take input
    // between its links.
    void fire() {
        const double dueBy = nowMs() + earlyLimitMs();
        const CallId newest = lastId;
        firing = true;
        while (!calls.empty()) {
            const auto first = calls.begin();
            const auto [deadline, id] = first->first;
            if (deadline > dueBy || id > newest)
                break;
            WakeTimer::sleep(deadline - nowMs());
            const std::function<void()> action = std::move(first->second);
            deadlines.erase(id);
            calls.erase(first);
            action(); // may ask for calls, or drop them
        }
        firing = false;
        arm();
    }
};

namespace {

// The clocks of the program's thread: the first asks for precise timers,
// the last one gone gives them up.
int clocksAlive = 0;

} // namespace

EventLoopClock::EventLoopClock() : d(std::make_unique<Private>()) {
    d->elapsed.start();
    if (clocksAlive++ == 0)
        WakeTimer::preferPrecision();
}

EventLoopClock::~EventLoopClock() {
    if (--clocksAlive == 0)
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
    if (first)
        d->schedule();
    return id;
}

void EventLoopClock::cancelCall(CallId id) {
    const auto found = d->deadlines.find(id);
    if (found == d->deadlines.end())
        return;
    const bool first = found->second == d->calls.begin()->first.first;
    d->calls.erase(std::pair(found->second, id));
    d->deadlines.erase(found);
    // The timer follows, rather than wake the loop for nothing.
    if (first)
        d->schedule();
}

} // namespace kt::link
