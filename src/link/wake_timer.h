// The system's most precise one-shot timer, woken through the event loop,
// and its most precise short sleep: what the event loop clock is built on.
#pragma once

#include <functional>
#include <memory>

namespace kt::link {

class WakeTimer {
  public:
    // `fired` runs in the event loop when the timer goes off.
    explicit WakeTimer(std::function<void()> fired);
    ~WakeTimer();

    // Made at the first use, when the event loop exists; false when the
    // system has no such timer (the clock then uses Qt's timers).
    bool available();
    // Goes off once, `ms` from now; a setting replaces the one before.
    void setIn(double ms);
    void stop();
    // How early the timer may be set: the most the event loop is seen to
    // run late after it goes off.
    double maxLeadMs() const;

    // Sleeps `ms` (a fraction of a millisecond) without giving up precision.
    static void sleep(double ms);
    // Asks the system to time this thread's timers closely, until
    // dropPrecision() withdraws the request; each call pairs with one.
    static void preferPrecision();
    static void dropPrecision();

  private:
    struct System;
    std::unique_ptr<System> system_;
    std::function<void()> fired_;
};

} // namespace kt::link
