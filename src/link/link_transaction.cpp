#include "link_transaction.h"

#include "frame.h"
#include "shell/text_format.h"
#include "trace.h"

#include <cmath>

namespace kt::link {

namespace {

double roundedMs(float ms) {
    return std::round(double(ms));
}

} // namespace

LinkTransaction::LinkTransaction(SerialPort& port, Clock& clock, LinkView& view,
                                 const shell::Settings& settings)
    : port_(port), clock_(clock), view_(view), settings_(settings) {
    // The request under way takes what the port says; one that has ended
    // is gone from active_ and hears nothing more.
    connect(&port_, &SerialPort::arrived, this, [this] {
        if (const std::shared_ptr<LinkRequest> request = active_)
            request->onInput();
    });
    connect(&port_, &SerialPort::lost, this, [this] {
        if (const std::shared_ptr<LinkRequest> request = active_)
            request->onPortLost();
    });
}

LinkTransaction::~LinkTransaction() {
    // A request that outlives its link ends without a word: nobody is left
    // to act on it.
    if (active_) {
        active_->next_.cancel();
        active_->phase_ = LinkRequest::Phase::Ended;
        active_->done_ = nullptr;
    }
}

std::shared_ptr<LinkRequest> LinkTransaction::lsubTransaction(const QByteArray& requestText,
                                                              LinkRequest::Done done) {
    if (const std::shared_ptr<LinkRequest> previous = active_)
        previous->cancel();
    active_ = std::make_shared<LinkRequest>(*this, requestText, std::move(done));
    const std::shared_ptr<LinkRequest> request = active_;
    request->begin();
    return request;
}

LinkRequest::LinkRequest(LinkTransaction& link, QByteArray requestText, Done done)
    : link_(link), requestText_(std::move(requestText)), done_(std::move(done)),
      next_(link.clock_) {}

void LinkRequest::begin() {
    Clock& clock = link_.clock_;
    if (!link_.port_.isOpen()) {
        qCDebug(ktLink, "%.1f ms: the port is not open", clock.nowMs());
        next_.at(clock.nowMs(), [this] { end({TxResult::Status::PortLost, {}}); });
        return;
    }
    // The line has been quiet since the previous request ended; a retry
    // waits its whole TX delay after the pause.
    startTry(link_.returnedAtMs_ >= 0 ? link_.returnedAtMs_ : clock.nowMs());
}

void LinkRequest::startTry(double txDelayFromMs) {
    strTxFrame = buildRequestFrame(requestText_);
    strRxBuffer.clear();
    LinkView& view = link_.view_;
    view.showLinkState(LinkState::Busy);
    view.setActivity(true);
    view.showEcho(shell::trimBlanks(strTxFrame));
    phase_ = Phase::TxDelay;
    next_.at(txDelayFromMs + roundedMs(link_.settings_.sngTxDelay), [this] { send(); });
}

void LinkRequest::send() {
    SerialPort& port = link_.port_;
    const double now = link_.clock_.nowMs();
    port.readAll(); // a late reply to an earlier try is not this request's reply
    qCDebug(ktLink, "%.1f ms: sent %s", now, printable(strTxFrame).constData());
    if (!port.write(strTxFrame)) {
        qCDebug(ktLink, "%.1f ms: the write failed", now);
        link_.view_.showEcho({});
        link_.view_.setActivity(false);
        return tryFailed();
    }
    phase_ = Phase::RxDelay;
    next_.at(now + roundedMs(link_.settings_.sngRxDelay), [this] { startReply(); });
}

void LinkRequest::startReply() {
    phase_ = Phase::AwaitingReply;
    // On a line that echoes, the request comes back first, CR and all: it
    // is dropped once whole, and what follows is the reply.
    echoPending_ = link_.settings_.echo;
    replyDeadlineMs_ = link_.clock_.nowMs() + roundedMs(link_.settings_.sngRxTimeOut);
    next_.at(replyDeadlineMs_, [this] {
        onInput(); // what came with the deadline still counts, and is judged late
        if (phase_ == Phase::AwaitingReply)
            finishReply();
    });
    onInput(); // what arrived during the RX delay
}

void LinkRequest::onInput() {
    if (phase_ != Phase::AwaitingReply)
        return; // stays in the port until this request's next send drops it
    strRxBuffer += link_.port_.readAll();
    // Bytes that are not the echo stay and fail the check.
    if (echoPending_ &&
        (strRxBuffer.size() >= strTxFrame.size() || !strTxFrame.startsWith(strRxBuffer))) {
        echoPending_ = false;
        if (strRxBuffer.startsWith(strTxFrame))
            strRxBuffer.remove(0, strTxFrame.size());
    }
    // The wait ends at the first CR, when the line floods without one, or
    // when the port is lost; only the time-out makes it a failure besides.
    if ((!echoPending_ && strRxBuffer.contains(CR)) ||
        strRxBuffer.size() > LinkTransaction::kMaxReplyBytes || !link_.port_.isOpen())
        finishReply();
}

void LinkRequest::finishReply() {
    next_.cancel();
    const double now = link_.clock_.nowMs();
    heard_ = heard_ || !strRxBuffer.isEmpty();
    bool failed = true;
    QByteArray data;
    if (!strRxBuffer.contains(CR)) {
        // Nothing, a line flooding without CR, or the port lost.
        strRxBuffer.truncate(LinkTransaction::kMaxReplyBytes);
        qCDebug(ktLink, "%.1f ms: no reply (%lld bytes without CR%s)", now,
                qlonglong(strRxBuffer.size()), link_.port_.isOpen() ? "" : ", port lost");
    } else if (now > replyDeadlineMs_) {
        qCDebug(ktLink, "%.1f ms: the reply came after the time-out", now);
    } else {
        const ReplyCheck check = checkReply(strRxBuffer, strTxFrame);
        qCDebug(ktLink, "%.1f ms: received %s (%s)", now, printable(strRxBuffer).constData(),
                check.accepted ? "accepted" : "refused");
        strRxBuffer = check.frame;
        failed = !check.accepted;
        data = check.data;
    }
    LinkView& view = link_.view_;
    view.showEcho(shell::trimBlanks(strRxBuffer));
    view.setActivity(false);
    if (failed)
        return tryFailed();
    view.showLinkState(LinkState::Ok);
    end({TxResult::Status::Accepted, data});
}

void LinkRequest::tryFailed() {
    LinkView& view = link_.view_;
    const double now = link_.clock_.nowMs();
    view.showLinkState(LinkState::Error);
    ++tries_;
    ++link_.lngErrorCount;
    view.showErrorCount(link_.lngErrorCount);
    qCDebug(ktLink, "%.1f ms: try %d failed", now, tries_);
    if (!link_.port_.isOpen()) {
        qCDebug(ktLink, "%.1f ms: the port went away", now);
        return end({TxResult::Status::PortLost, {}});
    }
    if (tries_ >= link_.maxTries_) {
        qCDebug(ktLink, "%.1f ms: gave up", now);
        return end({TxResult::Status::GaveUp, {}, heard_});
    }
    phase_ = Phase::RetryPause;
    next_.at(now + roundedMs(link_.settings_.sngRxTimeOut),
             [this] { startTry(link_.clock_.nowMs()); });
}

void LinkRequest::onPortLost() {
    switch (phase_) {
    case Phase::AwaitingReply:
        return onInput(); // the closed port ends the wait: the try fails
    case Phase::TxDelay:
    case Phase::RxDelay:
        // No try can reach the controller any more: this one fails now.
        next_.cancel();
        link_.view_.setActivity(false);
        return tryFailed();
    case Phase::RetryPause:
        qCDebug(ktLink, "%.1f ms: the port went away", link_.clock_.nowMs());
        return end({TxResult::Status::PortLost, {}});
    case Phase::Ended:
        return;
    }
}

void LinkRequest::cancel() {
    if (phase_ == Phase::Ended)
        return;
    qCDebug(ktLink, "%.1f ms: cancelled", link_.clock_.nowMs());
    // No verdict on the try, no count, and the status panel goes back to
    // the port's state.
    if (phase_ != Phase::RetryPause)
        link_.view_.setActivity(false);
    link_.view_.showLinkState(LinkState::Idle);
    end({TxResult::Status::Cancelled, {}});
}

void LinkRequest::end(const TxResult& result) {
    next_.cancel();
    phase_ = Phase::Ended;
    link_.returnedAtMs_ = link_.clock_.nowMs();
    // The request may be the link's last hold on itself: it stays alive
    // until its report has been made.
    std::shared_ptr<LinkRequest> self;
    if (link_.active_.get() == this)
        self = std::move(link_.active_);
    const Done done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(result);
}

} // namespace kt::link
