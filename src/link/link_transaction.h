// One request to the controller and one accepted reply, with up to ten
// retries: the only way the transfer engine talks to the controller.
#pragma once

#include "clock.h"
#include "link_view.h"
#include "serial_port.h"
#include "shell/settings.h"

#include <QByteArray>
#include <cstdint>

namespace kt::link {

// How a transaction ended.
struct TxResult {
    enum class Status {
        Accepted,  // a reply was accepted; `data` holds its data field
        PortLost,  // the port is closed or went away: no further try is made
        GaveUp,    // every try failed
        Cancelled, // the link was disabled before or during the transaction
    };
    Status status = Status::Cancelled;
    QByteArray data;
    bool heard = false; // GaveUp: bytes came back, but no reply could be accepted

    bool accepted() const { return status == Status::Accepted; }
};

class LinkTransaction {
  public:
    static constexpr int kMaxTries = 11;                   // the first and ten retries
    static constexpr qsizetype kMaxReplyBytes = 64 * 1024; // a longer line without CR fails

    // The times are read from `settings` at each use, so changes made in
    // the settings panel take effect at the next pause or wait.
    LinkTransaction(SerialPort& port, Clock& clock, LinkView& view,
                    const shell::Settings& settings);

    // Sends the request text (address, command code, index, data; framed
    // here) until a reply is accepted or the tries are used up; a port that
    // is closed or goes away ends it at once, as no try could reach. Sends
    // nothing while the link is disabled. Disabling the link during a wait
    // (a cancel) ends the call at once, without counting the try.
    TxResult lsubTransaction(const QByteArray& requestText);

    // Transactions may run from now on, until disable(); disable() may be
    // called from inside a wait.
    void enable() { blnLinkEnabled = true; }
    void disable() { blnLinkEnabled = false; }
    bool isEnabled() const { return blnLinkEnabled; }
    // Fewer tries for a quick look, as a bus scan takes.
    void setMaxTries(int tries) { maxTries_ = tries; }
    // Failed tries since the last reset.
    std::int32_t errorCount() const { return lngErrorCount; }
    void resetErrorCount() { lngErrorCount = 0; }

  private:
    // One try; the TX delay runs from `txDelayFromMs`. Sets blnCommError
    // when the try failed; returns early when the link is disabled.
    void lsubSendData(double txDelayFromMs);
    void lsubWaitReply();
    // Processes events until the deadline or until the link is disabled.
    void waitUnlessCancelled(double deadlineMs);

    SerialPort& port_;
    Clock& clock_;
    LinkView& view_;
    const shell::Settings& settings_;
    int maxTries_ = kMaxTries;
    bool blnLinkEnabled = false;
    bool blnCommError = false; // the last try failed
    bool heard_ = false;       // some try of this transaction received bytes
    std::int32_t lngErrorCount = 0;
    QByteArray strTxFrame;
    QByteArray strRxBuffer;
    QByteArray strRxData;
    float sngReplyTimeOut_ = 0;
    // When the last transaction returned: the caller's own work after it
    // (writing the record, captions) counts towards the next TX delay.
    double returnedAtMs_ = -1;
};

} // namespace kt::link
