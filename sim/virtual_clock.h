// A clock for headless runs: time stands still until a wait asks for it to
// move, then jumps straight to the next scheduled event or the deadline.
#pragma once

#include "link/clock.h"

#include <functional>
#include <map>

namespace kt::sim {

class VirtualClock final : public link::Clock {
  public:
    double nowMs() const override { return now_; }
    bool waitUntil(double deadlineMs, const std::function<bool()>& ready) override;

    // Runs `action` when the clock reaches `atMs` during a wait. Actions
    // due at the same time run in the order they were scheduled.
    void schedule(double atMs, std::function<void()> action);

  private:
    double now_ = 0;
    std::multimap<double, std::function<void()>> events_;
};

} // namespace kt::sim
