// A clock for headless runs: time stands still until run() moves it
// straight from one call to the next, in time order.
#pragma once

#include "link/clock.h"

#include <functional>
#include <map>

namespace kt::sim {

class VirtualClock final : public link::Clock {
  public:
    double nowMs() const override { return now_; }
    CallId callAt(double deadlineMs, std::function<void()> action) override;
    void cancelCall(CallId id) override;

    // Makes the calls in time order, the clock moving to each, until none
    // is left or `stop()` holds (asked before each call); true when it held.
    bool run(const std::function<bool()>& stop = [] { return false; });
    // The same up to `deadlineMs`, where the clock then stands.
    void runUntil(double deadlineMs);
    // Whether a call waits.
    bool idle() const { return calls_.empty(); }

  private:
    double now_ = 0;
    CallId lastId_ = 0;
    std::map<std::pair<double, CallId>, std::function<void()>> calls_;
    std::map<CallId, double> deadlines_;
    // Makes the first call when it is due by `deadlineMs`; false when none is.
    bool callFirst(double deadlineMs);
};

} // namespace kt::sim
