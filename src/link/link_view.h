// What the link shows of itself: the window implements this, and so do the
// tests and any other front end.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace kt::link {

// Status bar panel 2 during and after a try.
enum class LinkState {
    Busy,  // raised, first activity picture, the "Busy" text
    Ok,    // inset, OK picture, the "OK" text
    Error, // inset, error picture, the "Error" text
    Idle,  // no try under way (a cancelled one): the port's own state
};

class LinkView {
  public:
    virtual ~LinkView() = default;
    // Panel 1: the frame last sent, then the text received.
    virtual void showEcho(const QByteArray& frame) = 0;
    // Panel 2.
    virtual void showLinkState(LinkState state) = 0;
    // Panel 3: failed tries since the job started.
    virtual void showErrorCount(std::int32_t count) = 0;
    // Starts or stops the two-picture activity animation (tmrComm).
    virtual void setActivity(bool running) = 0;
};

} // namespace kt::link
