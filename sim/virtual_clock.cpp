#include "virtual_clock.h"

#include <algorithm>
#include <limits>

namespace kt::sim {

link::Clock::CallId VirtualClock::callAt(double deadlineMs, std::function<void()> action) {
    const CallId id = ++lastId_;
    calls_.emplace(std::pair(std::max(deadlineMs, now_), id), std::move(action));
    deadlines_.emplace(id, std::max(deadlineMs, now_));
    return id;
}

void VirtualClock::cancelCall(CallId id) {
    const auto found = deadlines_.find(id);
    if (found == deadlines_.end())
        return;
    calls_.erase(std::pair(found->second, id));
    deadlines_.erase(found);
}

bool VirtualClock::callFirst(double deadlineMs) {
    if (calls_.empty() || calls_.begin()->first.first > deadlineMs)
        return false;
    const auto first = calls_.begin();
    now_ = std::max(now_, first->first.first);
    const std::function<void()> action = std::move(first->second);
    deadlines_.erase(first->first.second);
    calls_.erase(first);
    action();
    return true;
}

bool VirtualClock::run(const std::function<bool()>& stop) {
    for (;;) {
        if (stop())
            return true;
        if (!callFirst(std::numeric_limits<double>::infinity()))
            return false;
    }
}

void VirtualClock::runUntil(double deadlineMs) {
    while (callFirst(deadlineMs)) {
    }
    now_ = std::max(now_, deadlineMs);
}

} // namespace kt::sim
