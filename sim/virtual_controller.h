// The controller's side of the protocol, without a transport: bytes from
// the PC go in, replies come out as timed chunks. A request without data
// reads a record; with data it writes the record and is acknowledged with
// an empty data field. Faults can be injected into the replies.
#pragma once

#include "record_store.h"

#include <QByteArray>
#include <QList>

namespace kt::sim {

enum class Fault {
    None,
    Silence,          // no reply
    WrongCrc,         // one CRC digit wrong
    LowerCaseCrc,     // CRC digits in lower case (no change when the CRC has no letter)
    WrongAddress,     // the reply names another address, with a right CRC
    GarbageBeforeEtx, // noise bytes before the reply
    SoInReply,        // an SO byte in the reply's data
    SplitReply,       // the reply in pieces with gaps between them
    LateReply,        // the reply comes after a delay
    FloodWithoutCr,   // a long line without CR instead of the reply
    Twice,            // the reply, then the same reply again after the gap
    Stale,            // each reply held back until the next request comes: one behind
};

// Fault names as the program's --fault option takes them ("wrong-crc"...).
QList<QByteArray> faultNames();
bool faultFromName(const QByteArray& name, Fault* fault);

struct FaultPlan {
    Fault fault = Fault::None;
    int startAfter = 0;   // replies answered normally before the fault starts
    int count = -1;       // replies the fault applies to: the next `count`, or all (-1)
    int dropEvery = 0;    // every k-th request goes unanswered (0: none)
    int alterEvery = 0;   // every k-th record read back differs from the one stored (0: none)
    double lateMs = 1500; // delay of a late reply
    int pieces = 3;       // pieces of a split reply
    double gapMs = 5;     // gap between the pieces, or between a twice-sent reply's copies
    int floodBytes = 70000;
};

// One piece of output, due `delayMs` after the request was complete.
struct Chunk {
    double delayMs = 0;
    QByteArray bytes;
};

class VirtualController {
  public:
    explicit VirtualController(RecordStore& store, QList<int> addresses = {1});

    void setFaultPlan(const FaultPlan& plan) { plan_ = plan; }
    // Sends every byte received straight back before any reply, as an
    // RS-485 converter that hears its own transmitter does.
    void setEcho(bool on) { echo_ = on; }

    // Takes bytes from the line; returns the output for every request that
    // the bytes complete.
    QList<Chunk> receive(const QByteArray& bytes);

    // Request texts received with a good CRC (address, code, index, data),
    // in order, whether answered or not.
    const QList<QByteArray>& requests() const { return requests_; }

    // Builds a reply frame: ETX, address, code, data, EOT, CRC, CR.
    static QByteArray replyFrame(const QByteArray& address, const QByteArray& code,
                                 const QByteArray& data);

  private:
    QList<Chunk> answer(const QByteArray& frame);
    QList<Chunk> applyFault(QByteArray reply, const QByteArray& address, const QByteArray& code,
                            const QByteArray& data);
    QList<Chunk> faultyReply(Fault fault, QByteArray reply, const QByteArray& address,
                             const QByteArray& code, const QByteArray& data) const;

    RecordStore& store_;
    QList<int> addresses_;
    FaultPlan plan_;
    QByteArray pending_;
    QList<QByteArray> requests_;
    int requestCount_ = 0;
    int readCount_ = 0;
    bool echo_ = false;
    QList<Chunk> held_; // a stale line's reply to the last request
};

} // namespace kt::sim
