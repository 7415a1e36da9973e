#include "virtual_clock.h"

#include <algorithm>

namespace kt::sim {

bool VirtualClock::waitUntil(double deadlineMs, const std::function<bool()>& ready) {
    for (;;) {
        if (ready())
            return true;
        if (events_.empty() || events_.begin()->first > deadlineMs) {
            now_ = std::max(now_, deadlineMs);
            return false;
        }
        const auto next = events_.begin();
        now_ = std::max(now_, next->first);
        const std::function<void()> action = std::move(next->second);
        events_.erase(next);
        action();
    }
}

void VirtualClock::schedule(double atMs, std::function<void()> action) {
    events_.emplace(atMs, std::move(action));
}

} // namespace kt::sim
