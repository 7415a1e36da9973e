#include "link_transaction.h"

#include "frame.h"
#include "shell/text_format.h"
#include "trace.h"

#include <algorithm>
#include <cmath>

namespace kt::link {

namespace {

double roundedMs(float ms) {
    return std::round(double(ms));
}

} // namespace

LinkTransaction::LinkTransaction(SerialPort& port, Clock& clock, LinkView& view,
                                 const LineTimes& times)
    : port_(port), clock_(clock), view_(view), times_(times) {
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
    port_.setWatching(true);
    // A request that outlives its link ends without a word: nobody is left
    // to act on it.
    if (active_)
        reporting_.push_back(std::move(active_));
    for (const std::shared_ptr<LinkRequest>& request : reporting_) {
        request->next_.cancel();
        request->phase_ = LinkRequest::Phase::Ended;
        request->done_ = nullptr;
    }
}

std::shared_ptr<LinkRequest> LinkTransaction::lsubTransaction(const QByteArray& requestText,
                                                              LinkRequest::Done done) {
    return start(LinkRequest::Kind::Request, requestText, std::move(done));
}

std::shared_ptr<LinkRequest> LinkTransaction::lsubConfirm(const QByteArray& address,
                                                          LinkRequest::Done done) {
    return start(LinkRequest::Kind::Confirm, address, std::move(done));
}

std::shared_ptr<LinkRequest> LinkTransaction::start(LinkRequest::Kind kind, const QByteArray& text,
                                                    LinkRequest::Done done) {
    if (const std::shared_ptr<LinkRequest> previous = active_)
        previous->cancel();
    active_ = std::make_shared<LinkRequest>(*this, kind, text, std::move(done));
    const std::shared_ptr<LinkRequest> request = active_;
    request->begin();
    return request;
}

namespace {

QByteArray withoutLeadingBlanks(const QByteArray& text) {
    qsizetype begin = 0;
    while (begin < text.size() && text[begin] == ' ')
        ++begin;
    return text.mid(begin);
}

} // namespace

LinkRequest::LinkRequest(LinkTransaction& link, Kind kind, QByteArray requestText, Done done)
    : link_(link), kind_(kind), requestText_(withoutLeadingBlanks(requestText)),
      address_(requestText_.left(2)), done_(std::move(done)), next_(link.clock_) {}

double LinkRequest::timeOutMs() const {
    return roundedMs(link_.times_.rxTimeOutMs);
}

bool LinkRequest::inStep() const {
    return link_.outOfStepAddress_ != address_;
}

void LinkRequest::begin() {
    Clock& clock = link_.clock_;
    if (!link_.port_.isOpen()) {
        qCDebug(ktLink, "%.1f ms: the port is not open", clock.nowMs());
        return end({TxResult::Status::PortLost, {}});
    }
    if (kind_ == Kind::Confirm) {
        // The quiet judges what may still come for the replies accepted.
        strTxFrame = buildRequestFrame(address_ + "DC");
        if (!link_.acceptedSinceQuiet_)
            return end({TxResult::Status::Accepted, {}});
        collectingDoubt_ = true;
        return startQuiet();
    }
    // A line out of step for this address is first let go quiet.
    if (!inStep())
        return startQuiet();
    // The line has been quiet since the previous request ended; a retry
    // waits its whole TX delay after the pause.
    startTry(link_.returnedAtMs_ >= 0 ? link_.returnedAtMs_ : clock.nowMs());
}

void LinkRequest::startTry(double txDelayFromMs) {
    // The probe reads a record whose reply no earlier request of this
    // record can give: its command code differs.
    const QByteArray probe = address_ + (requestText_.mid(2, 2) == "DC" ? "DI" : "DC");
    strTxFrame = buildRequestFrame(probing_ ? probe : requestText_);
    strRxBuffer.clear();
    LinkView& view = link_.view_;
    view.showLinkState(LinkState::Busy);
    view.setActivity(true);
    view.showEcho(shell::trimBlanks(strTxFrame));
    phase_ = Phase::TxDelay;
    link_.port_.setWatching(false); // what comes now waits for send() to judge it
    next_.at(txDelayFromMs + roundedMs(link_.times_.txDelayMs), [this] { send(); });
}

void LinkRequest::send() {
    SerialPort& port = link_.port_;
    const double now = link_.clock_.nowMs();
    if (const QByteArray early = port.readAll(); !early.isEmpty()) {
        // Nothing is owed to a request not yet sent: these bytes answer an
        // earlier frame, so the line is out of step until it is quiet.
        const bool wasInStep = inStep();
        qCDebug(ktLink, "%.1f ms: %lld bytes came before the request went out: %s", now,
                qlonglong(early.size()), printable(early.left(80)).constData());
        noteStray(early, wasInStep);
        link_.outOfStepAddress_ = address_;
        link_.view_.setActivity(false);
        if (wasInStep)
            return startQuiet(); // not this request's failure
        return tryFailed();
    }
    qCDebug(ktLink, "%.1f ms: sent %s", now, printable(strTxFrame).constData());
    if (!port.write(strTxFrame)) {
        qCDebug(ktLink, "%.1f ms: the write failed", now);
        link_.view_.showEcho({});
        link_.view_.setActivity(false);
        return tryFailed();
    }
    sent_ = true;
    phase_ = Phase::RxDelay;
    port.setWatching(false); // the reply waits in the port until it is due
    next_.at(now + roundedMs(link_.times_.rxDelayMs), [this] { startReply(); });
}

void LinkRequest::startReply() {
    phase_ = Phase::AwaitingReply;
    link_.port_.setWatching(true);
    // On a line that echoes, the request comes back first, CR and all: it
    // is dropped once whole, and what follows is the reply.
    echoPending_ = link_.times_.echo;
    replyDeadlineMs_ = link_.clock_.nowMs() + timeOutMs();
    replyEndMs_ = -1;
    atDeadline_ = false;
    next_.at(replyDeadlineMs_, [this] {
        // Bytes that reached the system by the deadline may still wait to
        // be delivered by the event loop: they get one turn of it, and count
        // as arrived at the deadline.
        atDeadline_ = true;
        onInput();
        if (phase_ == Phase::AwaitingReply)
            next_.at(replyDeadlineMs_, [this] {
                onInput();
                if (phase_ == Phase::AwaitingReply)
                    finishReply();
            });
    });
    onInput(); // what arrived during the RX delay
}

void LinkRequest::onInput() {
    switch (phase_) {
    case Phase::AwaitingReply:
        break;
    case Phase::Settling: {
        const QByteArray after = link_.port_.readAll();
        if (after.isEmpty())
            return;
        // A second frame, or anything, after the accepted reply: it may
        // have answered another request, so it is not taken.
        qCDebug(ktLink, "%.1f ms: %lld bytes came after the accepted reply: %s",
                link_.clock_.nowMs(), qlonglong(after.size()),
                printable(after.left(80)).constData());
        noteStray(after, inStep());
        if (holdsReplyFrom(after, strTxFrame))
            disorder_ = true;
        return tryFailed();
    }
    case Phase::Quieting:
        return onQuietInput();
    default:
        return; // stays in the port until the next send judges it
    }
    const bool hadEnd = strRxBuffer.contains(CR);
    strRxBuffer += link_.port_.readAll();
    if (!hadEnd && strRxBuffer.contains(CR))
        replyEndMs_ = atDeadline_ ? replyDeadlineMs_ : link_.clock_.nowMs();
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
    } else if (replyEndMs_ > replyDeadlineMs_) {
        qCDebug(ktLink, "%.1f ms: the reply came after the time-out", now);
    } else {
        const QByteArray received = strRxBuffer;
        const ReplyCheck check = checkReply(received, strTxFrame);
        qCDebug(ktLink, "%.1f ms: received %s (%s)", now, printable(received).constData(),
                verdictText(check.verdict));
        strRxBuffer = check.frame;
        failed = !check.accepted();
        data = check.data;
        if (check.verdict == ReplyVerdict::OtherCommand ||
            check.verdict == ReplyVerdict::MoreAfterReply) {
            // A reply that answers another request: where the line was
            // believed in step, earlier replies may be answers to others.
            disorder_ = true;
            noteStray(received, inStep());
        }
    }
    LinkView& view = link_.view_;
    view.showEcho(shell::trimBlanks(strRxBuffer));
    view.setActivity(false);
    if (failed)
        return tryFailed();
    startSettle(data);
}

void LinkRequest::startSettle(const QByteArray& data) {
    acceptedAtMs_ = link_.clock_.nowMs();
    if (!probing_)
        held_ = data;
    phase_ = Phase::Settling;
    // Anything that comes now fails the try; it waits in the port and is
    // judged when the settling ends, as it would be at once.
    link_.port_.setWatching(false);
    // In step, the quiet after a reply is the next request's TX delay, so
    // the line's timing is as without it; out of step it is a time-out.
    const double span = inStep() ? roundedMs(link_.times_.txDelayMs) : timeOutMs();
    next_.at(acceptedAtMs_ + span, [this] { settled(); });
}

void LinkRequest::settled() {
    onInput(); // what came with the deadline still counts
    if (phase_ != Phase::Settling)
        return;
    const double now = link_.clock_.nowMs();
    if (!inStep() && !probing_) {
        qCDebug(ktLink, "%.1f ms: the line may be out of step: a probe with another command", now);
        probing_ = true;
        return startTry(acceptedAtMs_);
    }
    if (probing_) {
        qCDebug(ktLink, "%.1f ms: the probe was answered: the line is in step", now);
        link_.outOfStepAddress_.clear();
    }
    link_.acceptedSinceQuiet_ = true;
    link_.view_.showLinkState(LinkState::Ok);
    end({TxResult::Status::Accepted, held_});
}

void LinkRequest::noteStray(const QByteArray& bytes, bool wasInStep) {
    // What came before this request's first frame answered another.
    heard_ = heard_ || sent_;
    if (wasInStep && link_.acceptedSinceQuiet_)
        collectingDoubt_ = true;
    if (collectingDoubt_ && doubt_.size() < LinkTransaction::kMaxReplyBytes)
        doubt_ += bytes.left(LinkTransaction::kMaxReplyBytes - doubt_.size());
}

void LinkRequest::tryFailed() {
    LinkView& view = link_.view_;
    const double now = link_.clock_.nowMs();
    view.showLinkState(LinkState::Error);
    ++tries_;
    ++link_.lngErrorCount;
    view.showErrorCount(link_.lngErrorCount);
    qCDebug(ktLink, "%.1f ms: try %d failed", now, tries_);
    // An answer to a frame that went out may still come. The request
    // starts over: its reply counts only from a try after the quiet.
    if (sent_)
        link_.outOfStepAddress_ = address_;
    probing_ = false;
    held_.clear();
    if (!link_.port_.isOpen()) {
        qCDebug(ktLink, "%.1f ms: the port went away", now);
        return end({TxResult::Status::PortLost, {}});
    }
    if (tries_ >= link_.maxTries_) {
        qCDebug(ktLink, "%.1f ms: gave up%s", now,
                disorder_ ? ": replies came to requests they did not answer" : "");
        return end(
            {disorder_ ? TxResult::Status::OutOfOrder : TxResult::Status::GaveUp, {}, heard_});
    }
    startQuiet();
}

void LinkRequest::startQuiet() {
    phase_ = Phase::Quieting;
    link_.port_.setWatching(true);
    quietStartMs_ = link_.clock_.nowMs();
    next_.at(quietStartMs_ + timeOutMs(), [this] { quietEnded(false); });
    onQuietInput(); // what is waiting already counts as heard in the quiet
}

void LinkRequest::onQuietInput() {
    const QByteArray bytes = link_.port_.readAll();
    if (bytes.isEmpty())
        return;
    const double now = link_.clock_.nowMs();
    qCDebug(ktLink, "%.1f ms: dropped %lld bytes while waiting for a quiet line: %s", now,
            qlonglong(bytes.size()), printable(bytes.left(80)).constData());
    noteStray(bytes, false);
    // The quiet starts again, up to a limit: a line that never goes quiet
    // fails a try.
    const bool noisy = now - quietStartMs_ >= LinkTransaction::kQuietLimitTimeOuts * timeOutMs();
    next_.at(noisy ? now : now + timeOutMs(), [this, noisy] { quietEnded(noisy); });
}

void LinkRequest::quietEnded(bool noisy) {
    onInput(); // what came with the deadline still counts
    if (phase_ != Phase::Quieting)
        return;
    const double now = link_.clock_.nowMs();
    if (collectingDoubt_) {
        collectingDoubt_ = false;
        const bool owed = holdsReplyFrom(doubt_, strTxFrame);
        doubt_.clear();
        if (owed) {
            qCDebug(ktLink,
                    "%.1f ms: a reply came that an earlier request was owed while the line was "
                    "in step: replies accepted before may belong to other records",
                    now);
            return end({TxResult::Status::OutOfOrder, {}, true});
        }
    }
    if (kind_ == Kind::Confirm) {
        link_.acceptedSinceQuiet_ = false;
        return end({TxResult::Status::Accepted, {}});
    }
    if (noisy) {
        qCDebug(ktLink, "%.1f ms: the line does not go quiet", now);
        return tryFailed();
    }
    startTry(now);
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
    case Phase::Settling:
    case Phase::Quieting:
        qCDebug(ktLink, "%.1f ms: the port went away", link_.clock_.nowMs());
        return end({TxResult::Status::PortLost, {}});
    case Phase::Ended:
        return;
    }
}

void LinkRequest::cancel() {
    if (phase_ == Phase::Ended)
        return; // its report stands
    qCDebug(ktLink, "%.1f ms: cancelled", link_.clock_.nowMs());
    // No verdict on the try, no count, and the status panel goes back to
    // the port's state. An answer to a frame that went out may still come.
    if (phase_ == Phase::TxDelay || phase_ == Phase::RxDelay || phase_ == Phase::AwaitingReply)
        link_.view_.setActivity(false);
    if (sent_)
        link_.outOfStepAddress_ = address_;
    link_.view_.showLinkState(LinkState::Idle);
    end({TxResult::Status::Cancelled, {}});
}

void LinkRequest::end(const TxResult& result) {
    next_.cancel();
    phase_ = Phase::Ended;
    const double now = link_.clock_.nowMs();
    // The quiet after an accepted reply served as the next TX delay.
    link_.returnedAtMs_ = result.accepted() && kind_ == Kind::Request ? acceptedAtMs_ : now;
    // The link holds the request until its report, which the clock makes:
    // never inside a call that started, replaced or cancelled a request.
    if (link_.active_.get() == this)
        link_.reporting_.push_back(std::move(link_.active_));
    next_.at(now, [this, result] { report(result); });
}

void LinkRequest::report(const TxResult& result) {
    std::shared_ptr<LinkRequest> self; // alive until its report returns
    const auto held = std::find_if(link_.reporting_.begin(), link_.reporting_.end(),
                                   [this](const auto& request) { return request.get() == this; });
    if (held != link_.reporting_.end()) {
        self = std::move(*held);
        link_.reporting_.erase(held);
    }
    const Done done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(result);
    // A link left idle watches its port again, so that a port that goes
    // away is told at once.
    if (!link_.active_)
        link_.port_.setWatching(true);
}

} // namespace kt::link
