// The time seam of the link: every pause and every reply wait goes through
// a Clock. The program uses EventLoopClock, which keeps the window alive in
// a nested event loop; tests use a virtual clock that jumps from one
// scheduled event to the next, so retry sequences take no real time.
#pragma once

#include <functional>
#include <memory>

namespace kt::link {

class Clock {
  public:
    virtual ~Clock() = default;

    // Milliseconds since an arbitrary start.
    virtual double nowMs() const = 0;

    // Processes events until `ready()` returns true or the clock reaches
    // `deadlineMs`; returns the last result of `ready()`. `ready` is tested
    // first, and again after every batch of events, so it may collect input.
    virtual bool waitUntil(double deadlineMs, const std::function<bool()>& ready) = 0;
};

// Waits `ms` rounded to whole milliseconds, processing events meanwhile.
void Delay(Clock& clock, float ms);

// The real clock: a monotonic timer, and waits that run a nested event loop
// woken by the events themselves (port input, timers, clicks) and by a
// precise timer at the deadline (on Linux a timerfd: one wake-up a wait).
class EventLoopClock final : public Clock {
  public:
    EventLoopClock();
    ~EventLoopClock() override;
    double nowMs() const override;
    bool waitUntil(double deadlineMs, const std::function<bool()>& ready) override;

  private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kt::link
