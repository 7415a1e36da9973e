// One request to the controller and one accepted reply, with up to ten
// retries: the only way the transfer engine talks to the controller. A
// request goes through named phases, each begun by the port's input or by
// a call of the clock, and reports what became of it once, later.
#pragma once

#include "clock.h"
#include "line_times.h"
#include "link_view.h"
#include "serial_port.h"

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kt::link {

// How a transaction ended.
struct TxResult {
    enum class Status {
        Accepted,   // a reply was accepted; `data` holds its data field
        PortLost,   // the port is closed or went away: no further try is made
        GaveUp,     // every try failed
        OutOfOrder, // replies came to requests they did not answer: the line
                    // could not be brought back in step, or replies accepted
                    // before may belong to other records
        Cancelled,  // the request was cancelled
    };
    Status status = Status::Cancelled;
    QByteArray data;
    bool heard = false; // GaveUp: bytes came back, but no reply could be accepted

    bool accepted() const { return status == Status::Accepted; }
};

class LinkTransaction;

// A request under way. It ends once: with a reply accepted, when the tries
// are used up, when the port goes, or when it is cancelled.
//
// The protocol carries no sequence number, so a reply is taken as this
// request's only while the line is in step. After a try that failed once its
// frame was out, an answer to it may still come: the line is out of step
// for that address. Then every frame goes out only after the line has been
// quiet for a reply time-out, an accepted reply must be followed by the same
// quiet, and a probe (a read with another command code, whose reply an
// earlier request cannot give) must be answered before the reply counts.
class LinkRequest {
  public:
    enum class Phase {
        TxDelay,       // the line rests before the frame goes out
        RxDelay,       // the frame is out; the controller gets time to answer
        AwaitingReply, // bytes are taken until a CR, a flood or the time-out
        Settling,      // a reply was accepted: the line must stay quiet after it
        Quieting,      // the line must be quiet for a time-out before a frame goes out
        Ended,         // it has reported what became of it
    };
    using Done = std::function<void(const TxResult&)>;
    enum class Kind {
        Request, // a request and its reply
        Confirm, // no frame: the line stays quiet after the replies accepted
    };

    LinkRequest(LinkTransaction& link, Kind kind, QByteArray requestText, Done done);
    LinkRequest(const LinkRequest&) = delete;
    LinkRequest& operator=(const LinkRequest&) = delete;

    Phase phase() const { return phase_; }
    // Ends the request at once: nothing more is sent, the try does not
    // count, and it reports Cancelled, later. A request that has already
    // ended reports what it ended with.
    void cancel();

  private:
    friend class LinkTransaction;
    void begin();
    void startTry(double txDelayFromMs);
    void send();
    void startReply();
    void onInput();
    void finishReply();
    void startSettle(const QByteArray& data);
    void settled();
    void tryFailed();
    void startQuiet();
    void onQuietInput();
    void quietEnded(bool noisy);
    void onPortLost();
    // Ends the request; `report` tells its `done`, from a call of the clock.
    void end(const TxResult& result);
    void report(const TxResult& result);
    // Whether no reply to an earlier frame to this address may be on its way.
    bool inStep() const;
    // Bytes that came when no reply was awaited; `inStep` tells whether the
    // line was believed in step when they came.
    void noteStray(const QByteArray& bytes, bool inStep);
    double timeOutMs() const;

    LinkTransaction& link_;
    const Kind kind_;
    const QByteArray requestText_; // without leading blanks
    const QByteArray address_;     // two digits
    Done done_;
    Phase phase_ = Phase::TxDelay;
    ClockCall next_;
    int tries_ = 0;
    bool heard_ = false;       // some try received bytes
    bool echoPending_ = false; // the echo of the frame has not all come back yet
    bool sent_ = false;        // a frame of this request went out
    bool probing_ = false;     // the frame is the probe; the request's data is held
    bool disorder_ = false;    // a reply to another request came in a try
    // Bytes that came while the line was believed in step, up to the end of
    // the quiet after them: a sound reply among them means replies accepted
    // earlier may have been answers to other requests.
    bool collectingDoubt_ = false;
    QByteArray doubt_;
    QByteArray held_; // the request's accepted data while the probe runs
    double replyDeadlineMs_ = 0;
    double replyEndMs_ = -1;  // when the reply's CR arrived
    bool atDeadline_ = false; // the reply's deadline has come: input counts as arrived by it
    double acceptedAtMs_ = 0;
    double quietStartMs_ = 0;
    QByteArray strTxFrame;
    QByteArray strRxBuffer;
};

class LinkTransaction : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxTries = 11;                   // the first and ten retries
    static constexpr qsizetype kMaxReplyBytes = 64 * 1024; // a longer line without CR fails
    // A line that does not go quiet within this many time-outs fails a try.
    static constexpr int kQuietLimitTimeOuts = 4;

    LinkTransaction(SerialPort& port, Clock& clock, LinkView& view, const LineTimes& times);
    ~LinkTransaction() override;

    // Starts a request (address, command code, index, data; framed here):
    // it is sent until a reply is accepted or the tries are used up; a port
    // that is closed or goes away ends it at once, as no try could reach.
    // `done` is called once, from a call of the clock, never from inside
    // this call. A request still under way is cancelled first; it too
    // reports later, before this one.
    std::shared_ptr<LinkRequest> lsubTransaction(const QByteArray& requestText,
                                                 LinkRequest::Done done);
    // Waits until the line has been quiet for a reply time-out after the
    // replies accepted since the last such wait: Accepted when it was, or
    // when none was accepted; OutOfOrder when a sound reply from `address`
    // came meanwhile, so that a reply accepted before may have answered
    // another request. A job ends with it before it calls its data whole.
    std::shared_ptr<LinkRequest> lsubConfirm(const QByteArray& address, LinkRequest::Done done);

    // New times take effect at the next phase of the request under way.
    void setTimes(const LineTimes& times) { times_ = times; }
    const LineTimes& times() const { return times_; }
    // Fewer tries for a quick look, as a bus scan takes.
    void setMaxTries(int tries) { maxTries_ = tries; }
    // Failed tries since the last reset.
    std::int32_t errorCount() const { return lngErrorCount; }
    void resetErrorCount() { lngErrorCount = 0; }

  private:
    friend class LinkRequest;
    std::shared_ptr<LinkRequest> start(LinkRequest::Kind kind, const QByteArray& text,
                                       LinkRequest::Done done);
    SerialPort& port_;
    Clock& clock_;
    LinkView& view_;
    LineTimes times_;
    int maxTries_ = kMaxTries;
    std::int32_t lngErrorCount = 0;
    std::shared_ptr<LinkRequest> active_;
    // Requests that have ended and wait for the clock to make their report.
    std::vector<std::shared_ptr<LinkRequest>> reporting_;
    // When the next frame's TX delay counts from: the end of the last
    // request, or the moment its reply was accepted (the quiet after it
    // was the TX delay).
    double returnedAtMs_ = -1;
    // The address whose replies may still be on their way; empty when the
    // line is in step.
    QByteArray outOfStepAddress_;
    // Replies were accepted since the line was last confirmed quiet.
    bool acceptedSinceQuiet_ = false;
};

} // namespace kt::link
