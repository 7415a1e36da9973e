// What the link tells of itself while it works: the window implements this,
// and so do the tests and any other front end.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace kt::link {

// The state of the link during and after a try.
enum class LinkState {
    Busy,  // a request is under way
    Ok,    // the last request was answered
    Error, // the last try failed (it may be retried)
    Idle,  // no try under way (a cancelled one): the port's own state
};

class LinkView {
  public:
    virtual ~LinkView() = default;
    // The frame last sent, then the frame last received.
    virtual void showEcho(const QByteArray& frame) = 0;
    // The link's state.
    virtual void showLinkState(LinkState state) = 0;
    // Failed tries since the job started.
    virtual void showErrorCount(std::int32_t count) = 0;
    // Whether the link is busy with a try, for a sign of activity.
    virtual void setActivity(bool running) = 0;
};

} // namespace kt::link
