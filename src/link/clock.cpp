#include "clock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace kt::link {

void Delay(Clock& clock, float ms) {
    const double start = clock.nowMs();
    clock.waitUntil(start + std::round(double(ms)), [] { return false; });
}

struct EventLoopClock::Private {
    QElapsedTimer elapsed;
};

EventLoopClock::EventLoopClock() : d(std::make_unique<Private>()) {
    d->elapsed.start();
}

EventLoopClock::~EventLoopClock() = default;

double EventLoopClock::nowMs() const {
    return d->elapsed.nsecsElapsed() / 1e6;
}

bool EventLoopClock::waitUntil(double deadlineMs, const std::function<bool()>& ready) {
    // Timers have whole-millisecond resolution and wake a little late, so
    // the loop sleeps in the event loop until about a millisecond before the
    // deadline, then keeps processing events in short steps up to it, and
    // spins through the last 0.2 ms.
    constexpr double kFineMs = 1.5;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    for (;;) {
        if (ready())
            return true;
        const double remaining = deadlineMs - nowMs();
        if (remaining <= 0)
            return false;
        if (remaining > kFineMs) {
            // The timer only wakes the loop; input and clicks wake it too.
            wake.start(int(remaining - kFineMs) + 1);
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        } else {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            // A sleep overshoots by tens of microseconds, twice a record:
            // the last fraction of a millisecond is spun instead.
            if (remaining > 0.2)
                QThread::usleep(50);
        }
    }
}

} // namespace kt::link
