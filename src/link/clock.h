// The time seam of the link: every pause and every reply time-out is a
// call that the clock makes at a deadline. The program uses EventLoopClock,
// whose calls come from the program's event loop; tests use a virtual
// clock that makes its calls in time order without real time passing, so
// retry sequences take no real time.
#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

namespace kt::link {

class Clock {
  public:
    using CallId = quint64;

    virtual ~Clock() = default;

    // Milliseconds since an arbitrary start.
    virtual double nowMs() const = 0;

    // Calls `action` once the clock reaches `deadlineMs`: later, never from
    // inside this call, also when the deadline has passed. Calls due at the
    // same time are made in the order they were asked for.
    virtual CallId callAt(double deadlineMs, std::function<void()> action) = 0;
    // Drops a call not yet made; an id already called or dropped is ignored.
    virtual void cancelCall(CallId id) = 0;
};

// One pending call of a clock at a time, dropped when replaced or destroyed:
// what a request holds for its next phase.
class ClockCall {
  public:
    explicit ClockCall(Clock& clock) : clock_(clock) {}
    ~ClockCall() { cancel(); }
    ClockCall(const ClockCall&) = delete;
    ClockCall& operator=(const ClockCall&) = delete;

    void at(double deadlineMs, std::function<void()> action);
    void cancel();
    bool pending() const { return id_ != 0; }
    Clock& clock() const { return clock_; }

  private:
    Clock& clock_;
    Clock::CallId id_ = 0;
};

// The real clock: a monotonic timer, and calls made from the event loop,
// woken by a precise timer (on Linux a timerfd set a learnt moment early,
// the last moment slept exactly).
class EventLoopClock final : public Clock {
  public:
    EventLoopClock();
    ~EventLoopClock() override;
    double nowMs() const override;
    CallId callAt(double deadlineMs, std::function<void()> action) override;
    void cancelCall(CallId id) override;

  private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kt::link
