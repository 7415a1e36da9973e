#include "virtual_controller.h"

#include "command_table.h"
#include "link/frame.h"

#include <utility>

namespace kt::sim {

using link::CR;
using link::EOT;
using link::ETX;
using link::SO;
using link::SOH;
using link::STX;

namespace {

const QList<QPair<QByteArray, Fault>>& faultTable() {
    static const QList<QPair<QByteArray, Fault>> table = {
        {"none", Fault::None},
        {"silence", Fault::Silence},
        {"wrong-crc", Fault::WrongCrc},
        {"lower-case-crc", Fault::LowerCaseCrc},
        {"wrong-address", Fault::WrongAddress},
        {"garbage-before-etx", Fault::GarbageBeforeEtx},
        {"so-in-reply", Fault::SoInReply},
        {"split-reply", Fault::SplitReply},
        {"late-reply", Fault::LateReply},
        {"flood-without-cr", Fault::FloodWithoutCr},
        {"twice", Fault::Twice},
        {"stale", Fault::Stale},
    };
    return table;
}

constexpr qsizetype kMaxRequestBytes = 64 * 1024;

} // namespace

QList<QByteArray> faultNames() {
    QList<QByteArray> names;
    for (const auto& entry : faultTable())
        names.append(entry.first);
    return names;
}

bool faultFromName(const QByteArray& name, Fault* fault) {
    for (const auto& entry : faultTable())
        if (entry.first == name) {
            *fault = entry.second;
            return true;
        }
    return false;
}

VirtualController::VirtualController(RecordStore& store, QList<int> addresses)
    : store_(store), addresses_(std::move(addresses)) {}

QByteArray VirtualController::replyFrame(const QByteArray& address, const QByteArray& code,
                                         const QByteArray& data) {
    const QByteArray body = ETX + address + code + data + EOT;
    return body + link::CRC16(body) + CR;
}

namespace {

// The record with its last character changed, or a new value for an empty
// one; a card keeps its 24 characters.
QByteArray altered(QByteArray value) {
    if (value.isEmpty())
        return "ALTERED";
    char& last = value[value.size() - 1];
    last = last == 'Z' ? 'Y' : 'Z';
    return value;
}

} // namespace

QList<Chunk> VirtualController::receive(const QByteArray& bytes) {
    QList<Chunk> output;
    if (echo_)
        output.append({0, bytes});
    pending_ += bytes;
    for (;;) {
        const qsizetype start = pending_.indexOf(SOH);
        if (start < 0) {
            pending_.clear(); // noise between frames
            break;
        }
        const qsizetype end = pending_.indexOf(CR, start);
        if (end < 0) {
            pending_.remove(0, start);
            if (pending_.size() > kMaxRequestBytes)
                pending_.clear();
            break;
        }
        output += answer(pending_.mid(start, end - start + 1));
        pending_.remove(0, end + 1);
    }
    return output;
}

QList<Chunk> VirtualController::answer(const QByteArray& frame) {
    // SOH, address 2, code 2, index and data, STX, CRC 4, CR.
    if (frame.size() < 11 || frame[frame.size() - 6] != STX)
        return {};
    const QByteArray body = frame.left(frame.size() - 5);
    if (frame.mid(frame.size() - 5, 4) != link::CRC16(body))
        return {};
    const QByteArray text = body.mid(1, body.size() - 2);
    requests_.append(text);
    ++requestCount_;

    const QByteArray address = text.left(2);
    bool numeric = false;
    const int addressNumber = address.toInt(&numeric);
    if (!numeric || !addresses_.contains(addressNumber))
        return {};
    const QByteArray code = text.mid(2, 2);
    const Command* command = findCommand(code);
    if (!command || text.size() < 4 + command->digits)
        return {};
    int index = 0;
    if (command->digits > 0) {
        const QByteArray digits = text.mid(4, command->digits);
        index = digits.toInt(&numeric);
        if (!numeric || index < command->first || index > command->last)
            return {};
    }
    if (plan_.dropEvery > 0 && requestCount_ % plan_.dropEvery == 0)
        return {};

    const QByteArray key = recordKey(*command, index);
    const QByteArray data = text.mid(4 + command->digits);
    QByteArray replyData;
    if (data.isEmpty()) {
        replyData = store_.value(key);
        if (plan_.alterEvery > 0 && ++readCount_ % plan_.alterEvery == 0)
            replyData = altered(replyData);
    } else
        store_.setValue(key, data);
    return applyFault(replyFrame(address, code, replyData), address, code, replyData);
}

QList<Chunk> VirtualController::applyFault(QByteArray reply, const QByteArray& address,
                                           const QByteArray& code, const QByteArray& data) {
    Fault fault = plan_.fault;
    if (plan_.startAfter > 0) {
        --plan_.startAfter;
        fault = Fault::None;
    } else if (plan_.count == 0)
        fault = Fault::None;
    else if (plan_.count > 0 && fault != Fault::None)
        --plan_.count;

    // A stale line gives the reply it held back; once the fault ends, the
    // held reply still comes first.
    if (fault == Fault::Stale)
        return std::exchange(held_, {{0, reply}});
    QList<Chunk> output = std::exchange(held_, {});
    output += faultyReply(fault, std::move(reply), address, code, data);
    return output;
}

QList<Chunk> VirtualController::faultyReply(Fault fault, QByteArray reply,
                                            const QByteArray& address, const QByteArray& code,
                                            const QByteArray& data) const {
    const qsizetype crcAt = reply.size() - 5;
    switch (fault) {
    case Fault::Stale: // held back by applyFault
    case Fault::None:
        break;
    case Fault::Silence:
        return {};
    case Fault::WrongCrc:
        reply[crcAt] = reply[crcAt] == '0' ? '1' : '0';
        break;
    case Fault::LowerCaseCrc:
        reply.replace(crcAt, 4, reply.mid(crcAt, 4).toLower());
        break;
    case Fault::WrongAddress: {
        const QByteArray other = address == "99" ? "98" : "99";
        reply = replyFrame(other, code, data);
        break;
    }
    case Fault::GarbageBeforeEtx:
        reply.prepend("\x7F\x15 noise \x04\xFF");
        break;
    case Fault::SoInReply:
        reply = replyFrame(address, code, data + SO);
        break;
    case Fault::SplitReply: {
        QList<Chunk> pieces;
        const int count = std::max(1, plan_.pieces);
        const qsizetype size = (reply.size() + count - 1) / count;
        for (int i = 0; i * size < reply.size(); ++i)
            pieces.append({i * plan_.gapMs, reply.mid(i * size, size)});
        return pieces;
    }
    case Fault::LateReply:
        return {{plan_.lateMs, reply}};
    case Fault::FloodWithoutCr:
        return {{0, QByteArray(plan_.floodBytes, 'F')}};
    case Fault::Twice:
        return {{0, reply}, {plan_.gapMs, reply}};
    }
    return {{0, reply}};
}

} // namespace kt::sim
