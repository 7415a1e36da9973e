#include "frame.h"

#include "shell/text_format.h"

namespace kt::link {

namespace {
constexpr qsizetype kMinReplyLength = 11; // ETX, address 2, code 2, EOT, CRC 4, CR
}

std::uint16_t crcOfBytes(const QByteArray& bytes, std::uint8_t hi, std::uint8_t lo) {
    for (const char c : bytes) {
        const std::uint8_t index = std::uint8_t(c) ^ hi;
        hi = CRCHi[index] ^ lo;
        lo = CRCLo[index];
    }
    return std::uint16_t(lo << 8 | hi);
}

QByteArray Hex4(unsigned value) {
    return QByteArray::number(value, 16).toUpper().rightJustified(4, '0', true);
}

QByteArray CRC16(const QByteArray& text) {
    return Hex4(crcOfBytes(shell::trimBlanks(text)));
}

QByteArray buildRequestFrame(const QByteArray& requestText) {
    qsizetype begin = 0;
    while (begin < requestText.size() && requestText[begin] == ' ')
        ++begin;
    const QByteArray body = SOH + requestText.mid(begin) + STX;
    return body + CRC16(body) + CR;
}

const char* verdictText(ReplyVerdict verdict) {
    switch (verdict) {
    case ReplyVerdict::Accepted:
        return "accepted";
    case ReplyVerdict::Unframed:
        return "refused: no whole reply frame";
    case ReplyVerdict::NoEot:
        return "refused: no EOT";
    case ReplyVerdict::OtherAddress:
        return "refused: another address";
    case ReplyVerdict::BadCrc:
        return "refused: wrong CRC";
    case ReplyVerdict::OtherCommand:
        return "refused: the reply to another command";
    case ReplyVerdict::MoreAfterReply:
        return "refused: more bytes after the reply";
    }
    return "refused";
}

namespace {

// The verdict on one cut frame, ETX through CR, without the code check.
ReplyVerdict judgeFrame(const QByteArray& f, const QByteArray& requestFrame) {
    const qsizetype length = f.size();
    if (length < kMinReplyLength)
        return ReplyVerdict::Unframed;
    const qsizetype eotAt = length - 6;
    if (f[eotAt] != EOT)
        return ReplyVerdict::NoEot;
    if (f.mid(1, 2) != requestFrame.mid(1, 2))
        return ReplyVerdict::OtherAddress;
    if (f.mid(eotAt + 1, 4) != CRC16(f.left(eotAt + 1)))
        return ReplyVerdict::BadCrc;
    return ReplyVerdict::Accepted;
}

} // namespace

ReplyCheck checkReply(const QByteArray& received, const QByteArray& requestFrame) {
    ReplyCheck check;
    check.frame = shell::trimBlanks(received);
    const QByteArray& r = check.frame;
    const qsizetype etx = r.indexOf(ETX);
    const qsizetype cr = r.indexOf(CR);
    if (r.isEmpty() || r.contains(SO) || etx < 0 || cr < 0 || cr < etx)
        return check;

    const bool more = cr + 1 < r.size();
    check.frame = r.mid(etx, cr - etx + 1);
    const QByteArray& f = check.frame;
    check.verdict = judgeFrame(f, requestFrame);
    if (!check.accepted())
        return check;
    // A sound frame of this address: one that answers another command, or
    // that more bytes follow, is not this request's only reply.
    if (f.mid(3, 2) != requestFrame.mid(3, 2))
        check.verdict = ReplyVerdict::OtherCommand;
    else if (more)
        check.verdict = ReplyVerdict::MoreAfterReply;
    else
        check.data = f.mid(5, f.size() - 11);
    return check;
}

bool holdsReplyFrom(const QByteArray& bytes, const QByteArray& requestFrame) {
    for (qsizetype etx = bytes.indexOf(ETX); etx >= 0; etx = bytes.indexOf(ETX, etx + 1)) {
        const qsizetype cr = bytes.indexOf(CR, etx);
        if (cr < 0)
            return false;
        if (judgeFrame(bytes.mid(etx, cr - etx + 1), requestFrame) == ReplyVerdict::Accepted)
            return true;
    }
    return false;
}

} // namespace kt::link
