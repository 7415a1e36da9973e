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

class LinkTransaction {
  public:
    static constexpr int kMaxTries = 11;                   // the first and ten retries
    static constexpr qsizetype kMaxReplyBytes = 64 * 1024; // a longer line without CR fails

    // The times are read from `settings` at each use, so changes made in
    // the settings panel take effect at the next pause or wait.
    LinkTransaction(SerialPort& port, Clock& clock, LinkView& view,
                    const shell::Settings& settings);

    // Sends the request text (address, command code, index, data; framed
    // here) until a reply is accepted or eleven tries have failed. Returns
    // at once, sending nothing and changing nothing, while blnLinkEnabled
    // is false. Afterwards blnCommError tells failure; on success strRxData
    // holds the data field. On giving up the "CommunicationError" message
    // has been shown and blnGaveUp is set. Clearing blnLinkEnabled during a
    // wait (a cancel) ends the call at once with blnCommError set, without
    // counting the try or showing a message.
    void lsubTransaction(const QByteArray& requestText);

    int maxTries = kMaxTries;    // fewer for a quick look, as a bus scan takes
    bool blnLinkEnabled = false; // transactions may run (set by the job)
    bool blnCommError = false;   // the last transaction failed
    bool blnGaveUp = false;      // ... after eleven failed tries
    std::int32_t lngErrorCount = 0;
    QByteArray strTxFrame;
    QByteArray strRxBuffer;
    QByteArray strRxData;

  private:
    // One try; the TX delay runs from `txDelayFromMs`. Returns early when
    // the link is disabled during a wait.
    void lsubSendData(double txDelayFromMs);
    void lsubWaitReply();
    // Processes events until the deadline or until the link is disabled.
    void waitUnlessCancelled(double deadlineMs);

    SerialPort& port_;
    Clock& clock_;
    LinkView& view_;
    const shell::Settings& settings_;
    float sngReplyTimeOut_ = 0;
    // When the last transaction returned: the caller's own work after it
    // (writing the record, captions) counts towards the next TX delay.
    double returnedAtMs_ = -1;
};

} // namespace kt::link
