#include "wake_timer.h"

#include <QElapsedTimer>
#include <QThread>
#include <QWinEventNotifier>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h:
#include <mmsystem.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace kt::link {

namespace {

// A high-resolution waitable timer where the system has them (Windows 10
// 1803 and later), else an ordinary one, whose wake-ups follow the
// system's timer period.
HANDLE makeTimer(bool* precise) {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    *precise = timer != nullptr;
    if (!timer)
        timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    return timer;
}

bool arm(HANDLE timer, double ms) {
    // Relative times are negative, in units of 100 ns.
    LARGE_INTEGER due;
    due.QuadPart = -std::max<LONGLONG>(1, LONGLONG(ms * 1e4));
    return SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
}

} // namespace

struct WakeTimer::System {
    HANDLE timer = nullptr;
    bool precise = false;
    std::unique_ptr<QWinEventNotifier> notifier;
};

WakeTimer::WakeTimer(std::function<void()> fired) : fired_(std::move(fired)) {}

WakeTimer::~WakeTimer() {
    if (system_) {
        system_->notifier.reset();
        CancelWaitableTimer(system_->timer);
        CloseHandle(system_->timer);
    }
}

bool WakeTimer::available() {
    if (system_)
        return true;
    bool precise = false;
    const HANDLE timer = makeTimer(&precise);
    if (!timer)
        return false;
    system_ = std::make_unique<System>();
    system_->timer = timer;
    system_->precise = precise;
    system_->notifier = std::make_unique<QWinEventNotifier>(timer);
    QObject::connect(system_->notifier.get(), &QWinEventNotifier::activated, [this] { fired_(); });
    return true;
}

void WakeTimer::setIn(double ms) {
    arm(system_->timer, ms);
}

void WakeTimer::stop() {
    if (system_)
        CancelWaitableTimer(system_->timer);
}

double WakeTimer::maxLeadMs() const {
    // An ordinary timer may wake a whole period of the system's timer late.
    return system_ && system_->precise ? 0.5 : 2.0;
}

void WakeTimer::sleep(double ms) {
    if (ms <= 0)
        return;
    static thread_local bool precise = false;
    static thread_local HANDLE timer = makeTimer(&precise);
    if (precise && arm(timer, ms)) {
        WaitForSingleObject(timer, INFINITE);
        return;
    }
    // Without a precise timer, the last moment (at most the lead, 2 ms) is
    // waited out giving the processor away between looks.
    QElapsedTimer since;
    since.start();
    while (since.nsecsElapsed() < qint64(ms * 1e6))
        QThread::yieldCurrentThread();
}

void WakeTimer::preferPrecision() {
    // The system's timer period down to a millisecond for this program.
    timeBeginPeriod(1);
}

void WakeTimer::dropPrecision() {
    timeEndPeriod(1);
}

} // namespace kt::link
