#include "link_transaction.h"

#include "frame.h"
#include "shell/text_format.h"

#include <QScopeGuard>
#include <cmath>

namespace kt::link {

LinkTransaction::LinkTransaction(SerialPort& port, Clock& clock, LinkView& view,
                                 const shell::Settings& settings, int& intStep)
    : port_(port), clock_(clock), view_(view), settings_(settings), intStep_(intStep) {}

void LinkTransaction::lsubTransaction(const QByteArray& requestText) {
    int tries = 0;
    // The line has been quiet since the previous transaction returned; a
    // retry waits its whole TX delay after the pause.
    double txDelayFrom = returnedAtMs_ >= 0 ? returnedAtMs_ : clock_.nowMs();
    const auto done = qScopeGuard([this] { returnedAtMs_ = clock_.nowMs(); });
    for (;;) {
        if (!blnLinkEnabled)
            return;
        blnCommError = false;
        sngReplyTimeOut_ = settings_.sngRxTimeOut;
        strTxFrame = buildRequestFrame(requestText);

        view_.showLinkState(LinkState::Busy);
        view_.setActivity(true);
        const bool sent = lsubSendData(txDelayFrom);
        view_.setActivity(false);
        if (!sent && !blnLinkEnabled)
            return; // cancelled during the TX delay: nothing was sent

        if (!blnCommError) {
            view_.showLinkState(LinkState::Ok);
            return;
        }
        view_.showLinkState(LinkState::Error);
        ++tries;
        ++lngErrorCount;
        view_.showErrorCount(lngErrorCount);
        if (tries >= kMaxTries) {
            view_.showMessage(3, 1, view_.languageText("CommunicationError") + '.');
            intStep_ = kAbortedStep;
            return;
        }
        if (!blnLinkEnabled)
            return; // cancelled: no pause before a try that will not come
        Delay(clock_, settings_.sngRxTimeOut);
        txDelayFrom = clock_.nowMs();
    }
}

bool LinkTransaction::lsubSendData(double txDelayFromMs) {
    view_.showEcho(shell::trimBlanks(strTxFrame));
    clock_.waitUntil(txDelayFromMs + std::round(double(settings_.sngTxDelay)),
                     [] { return false; });
    if (!blnLinkEnabled) {
        blnCommError = true;
        return false;
    }
    port_.readAll(); // a late reply to an earlier try is not this request's reply
    if (!port_.write(strTxFrame)) {
        strRxBuffer.clear();
        blnCommError = true;
    } else {
        Delay(clock_, settings_.sngRxDelay);
        lsubWaitReply();
        if (!blnCommError) {
            const ReplyCheck check = checkReply(strRxBuffer, strTxFrame);
            strRxBuffer = check.frame;
            if (check.accepted)
                strRxData = check.data;
            else
                blnCommError = true;
        }
    }
    view_.showEcho(shell::trimBlanks(strRxBuffer));
    return true;
}

void LinkTransaction::lsubWaitReply() {
    strRxBuffer.clear();
    // The wait ends at the first CR, when the line floods without one, or
    // when the port is lost; only the time-out makes it a failure besides.
    const double deadline = clock_.nowMs() + std::round(double(sngReplyTimeOut_));
    clock_.waitUntil(deadline, [&] {
        strRxBuffer += port_.readAll();
        return strRxBuffer.contains(CR) || strRxBuffer.size() > kMaxReplyBytes || !port_.isOpen();
    });
    if (!strRxBuffer.contains(CR)) {
        // Nothing, a line flooding without CR, or the port lost.
        strRxBuffer.truncate(kMaxReplyBytes);
        blnCommError = true;
    } else if (clock_.nowMs() > deadline) {
        blnCommError = true; // the CR came after the time-out
    }
}

} // namespace kt::link
