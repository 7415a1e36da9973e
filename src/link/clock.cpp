#include "clock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
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

EventLoopClock::EventLoopClock() : d(new Private) {
    d->elapsed.start();
}

EventLoopClock::~EventLoopClock() {
    delete d;
}

double EventLoopClock::nowMs() const {
    return d->elapsed.nsecsElapsed() / 1e6;
}

bool EventLoopClock::waitUntil(double deadlineMs, const std::function<bool()>& ready) {
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    for (;;) {
        if (ready())
            return true;
        const double remaining = deadlineMs - nowMs();
        if (remaining <= 0)
            return false;
        // The timer only wakes the loop; the time itself is read from the clock.
        deadline.start(std::max(1, int(std::ceil(remaining))));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

} // namespace kt::link
