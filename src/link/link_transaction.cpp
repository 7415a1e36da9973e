#include "link_transaction.h"

#include "frame.h"
#include "shell/text_format.h"
#include "trace.h"

#include <QScopeGuard>
#include <cmath>

namespace kt::link {

LinkTransaction::LinkTransaction(SerialPort& port, Clock& clock, LinkView& view,
                                 const shell::Settings& settings)
    : port_(port), clock_(clock), view_(view), settings_(settings) {}

TxResult LinkTransaction::lsubTransaction(const QByteArray& requestText) {
    using Status = TxResult::Status;
    if (!blnLinkEnabled)
        return {Status::Cancelled, {}};
    if (!port_.isOpen()) {
        qCDebug(ktLink, "%.1f ms: the port is not open", clock_.nowMs());
        return {Status::PortLost, {}};
    }
    int tries = 0;
    heard_ = false;
    // The line has been quiet since the previous transaction returned; a
    // retry waits its whole TX delay after the pause.
    double txDelayFrom = returnedAtMs_ >= 0 ? returnedAtMs_ : clock_.nowMs();
    const auto done = qScopeGuard([this] { returnedAtMs_ = clock_.nowMs(); });
    // A cancel cuts the transaction short: no verdict on the try, no count,
    // and the status panel goes back to the port's state.
    const auto cancelled = [this]() -> TxResult {
        qCDebug(ktLink, "%.1f ms: cancelled", clock_.nowMs());
        view_.showLinkState(LinkState::Idle);
        return {Status::Cancelled, {}};
    };
    for (;;) {
        blnCommError = false;
        sngReplyTimeOut_ = settings_.sngRxTimeOut;
        strTxFrame = buildRequestFrame(requestText);

        view_.showLinkState(LinkState::Busy);
        view_.setActivity(true);
        lsubSendData(txDelayFrom);
        view_.setActivity(false);
        if (!blnLinkEnabled)
            return cancelled();

        if (!blnCommError) {
            view_.showLinkState(LinkState::Ok);
            return {Status::Accepted, strRxData};
        }
        view_.showLinkState(LinkState::Error);
        ++tries;
        ++lngErrorCount;
        view_.showErrorCount(lngErrorCount);
        qCDebug(ktLink, "%.1f ms: try %d failed", clock_.nowMs(), tries);
        if (!port_.isOpen()) {
            qCDebug(ktLink, "%.1f ms: the port went away", clock_.nowMs());
            return {Status::PortLost, {}};
        }
        if (tries >= maxTries_) {
            qCDebug(ktLink, "%.1f ms: gave up", clock_.nowMs());
            return {Status::GaveUp, {}, heard_};
        }
        waitUnlessCancelled(clock_.nowMs() + std::round(double(settings_.sngRxTimeOut)));
        if (!blnLinkEnabled)
            return cancelled();
        txDelayFrom = clock_.nowMs();
    }
}

void LinkTransaction::waitUnlessCancelled(double deadlineMs) {
    clock_.waitUntil(deadlineMs, [this] { return !blnLinkEnabled; });
}

void LinkTransaction::lsubSendData(double txDelayFromMs) {
    view_.showEcho(shell::trimBlanks(strTxFrame));
    waitUnlessCancelled(txDelayFromMs + std::round(double(settings_.sngTxDelay)));
    if (!blnLinkEnabled)
        return;
    port_.readAll(); // a late reply to an earlier try is not this request's reply
    qCDebug(ktLink, "%.1f ms: sent %s", clock_.nowMs(), printable(strTxFrame).constData());
    if (!port_.write(strTxFrame)) {
        qCDebug(ktLink, "%.1f ms: the write failed", clock_.nowMs());
        strRxBuffer.clear();
        blnCommError = true;
    } else {
        waitUnlessCancelled(clock_.nowMs() + std::round(double(settings_.sngRxDelay)));
        if (!blnLinkEnabled)
            return;
        lsubWaitReply();
        if (!blnCommError && blnLinkEnabled) {
            const ReplyCheck check = checkReply(strRxBuffer, strTxFrame);
            qCDebug(ktLink, "%.1f ms: received %s (%s)", clock_.nowMs(),
                    printable(strRxBuffer).constData(), check.accepted ? "accepted" : "refused");
            strRxBuffer = check.frame;
            if (check.accepted)
                strRxData = check.data;
            else
                blnCommError = true;
        }
    }
    view_.showEcho(shell::trimBlanks(strRxBuffer));
}

void LinkTransaction::lsubWaitReply() {
    strRxBuffer.clear();
    // The wait ends at the first CR, when the line floods without one, when
    // the port is lost, or at a cancel; only the time-out makes it a
    // failure besides.
    const double deadline = clock_.nowMs() + std::round(double(sngReplyTimeOut_));
    // On a line that echoes, the request comes back first, CR and all: it
    // is dropped once whole, and what follows is the reply. Bytes that are
    // not the echo stay and fail the check.
    bool echoPending = settings_.echo;
    clock_.waitUntil(deadline, [&] {
        strRxBuffer += port_.readAll();
        if (echoPending &&
            (strRxBuffer.size() >= strTxFrame.size() || !strTxFrame.startsWith(strRxBuffer))) {
            echoPending = false;
            if (strRxBuffer.startsWith(strTxFrame))
                strRxBuffer.remove(0, strTxFrame.size());
        }
        return (!echoPending && strRxBuffer.contains(CR)) || strRxBuffer.size() > kMaxReplyBytes ||
               !port_.isOpen() || !blnLinkEnabled;
    });
    heard_ = heard_ || !strRxBuffer.isEmpty();
    if (!strRxBuffer.contains(CR)) {
        // Nothing, a line flooding without CR, or the port lost.
        strRxBuffer.truncate(kMaxReplyBytes);
        blnCommError = true;
        qCDebug(ktLink, "%.1f ms: no reply (%lld bytes without CR%s)", clock_.nowMs(),
                qlonglong(strRxBuffer.size()), port_.isOpen() ? "" : ", port lost");
    } else if (clock_.nowMs() > deadline) {
        blnCommError = true; // the CR came after the time-out
        qCDebug(ktLink, "%.1f ms: the reply came after the time-out", clock_.nowMs());
    }
}

} // namespace kt::link
