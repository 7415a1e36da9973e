// One request to the controller and one accepted reply, with up to ten
// retries: the only way the transfer engine talks to the controller. A
// request goes through named phases, each begun by the port's input or by
// a call of the clock, and reports what became of it once, later.
#pragma once

#include "clock.h"
#include "link_view.h"
#include "serial_port.h"
#include "shell/settings.h"

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

namespace kt::link {

// How a transaction ended.
struct TxResult {
    enum class Status {
        Accepted,  // a reply was accepted; `data` holds its data field
        PortLost,  // the port is closed or went away: no further try is made
        GaveUp,    // every try failed
        Cancelled, // the request was cancelled
    };
    Status status = Status::Cancelled;
    QByteArray data;
    bool heard = false; // GaveUp: bytes came back, but no reply could be accepted

    bool accepted() const { return status == Status::Accepted; }
};

class LinkTransaction;

// A request under way. It ends once: with a reply accepted, when the tries
// are used up, when the port goes, or when it is cancelled.
class LinkRequest {
  public:
    enum class Phase {
        TxDelay,       // the line rests before the frame goes out
        RxDelay,       // the frame is out; the controller gets time to answer
        AwaitingReply, // bytes are taken until a CR, a flood or the time-out
        RetryPause,    // a try failed; the line rests for a time-out
        Ended,         // it has reported what became of it
    };
    using Done = std::function<void(const TxResult&)>;

    LinkRequest(LinkTransaction& link, QByteArray requestText, Done done);
    LinkRequest(const LinkRequest&) = delete;
    LinkRequest& operator=(const LinkRequest&) = delete;

    Phase phase() const { return phase_; }
    // Ends the request at once: nothing more is sent, the try does not
    // count, and it reports Cancelled.
    void cancel();

  private:
    friend class LinkTransaction;
    void begin();
    void startTry(double txDelayFromMs);
    void send();
    void startReply();
    void onInput();
    void finishReply();
    void tryFailed();
    void onPortLost();
    void end(const TxResult& result);

    LinkTransaction& link_;
    const QByteArray requestText_;
    Done done_;
    Phase phase_ = Phase::TxDelay;
    ClockCall next_;
    int tries_ = 0;
    bool heard_ = false;       // some try received bytes
    bool echoPending_ = false; // the echo of the frame has not all come back yet
    double replyDeadlineMs_ = 0;
    QByteArray strTxFrame;
    QByteArray strRxBuffer;
};

class LinkTransaction : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxTries = 11;                   // the first and ten retries
    static constexpr qsizetype kMaxReplyBytes = 64 * 1024; // a longer line without CR fails

    // The times are read from `settings` at each use, so changes made in
    // the settings panel take effect at the next phase.
    LinkTransaction(SerialPort& port, Clock& clock, LinkView& view,
                    const shell::Settings& settings);
    ~LinkTransaction() override;

    // Starts a request (address, command code, index, data; framed here):
    // it is sent until a reply is accepted or the tries are used up; a port
    // that is closed or goes away ends it at once, as no try could reach.
    // `done` is called once, later, never from inside this call. A request
    // still under way is cancelled first.
    std::shared_ptr<LinkRequest> lsubTransaction(const QByteArray& requestText,
                                                 LinkRequest::Done done);

    // Fewer tries for a quick look, as a bus scan takes.
    void setMaxTries(int tries) { maxTries_ = tries; }
    // Failed tries since the last reset.
    std::int32_t errorCount() const { return lngErrorCount; }
    void resetErrorCount() { lngErrorCount = 0; }

  private:
    friend class LinkRequest;
    SerialPort& port_;
    Clock& clock_;
    LinkView& view_;
    const shell::Settings& settings_;
    int maxTries_ = kMaxTries;
    std::int32_t lngErrorCount = 0;
    std::shared_ptr<LinkRequest> active_;
    // When the last request ended: the caller's own work after it (writing
    // the record, captions) counts towards the next TX delay.
    double returnedAtMs_ = -1;
};

} // namespace kt::link
