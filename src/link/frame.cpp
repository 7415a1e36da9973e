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

ReplyCheck checkReply(const QByteArray& received, const QByteArray& requestFrame) {
    ReplyCheck check;
    check.frame = shell::trimBlanks(received);
    const QByteArray& r = check.frame;
    const qsizetype etx = r.indexOf(ETX);
    const qsizetype cr = r.indexOf(CR);
    if (r.isEmpty() || r.contains(SO) || etx < 0 || cr < 0 || cr < etx)
        return check;

    check.frame = r.mid(etx, cr - etx + 1);
    const QByteArray& f = check.frame;
    const qsizetype length = f.size();
    if (length < kMinReplyLength)
        return check;

    const qsizetype eotAt = length - 6;
    check.accepted = f[eotAt] == EOT && f.mid(1, 2) == requestFrame.mid(1, 2) &&
                     f.mid(eotAt + 1, 4) == CRC16(f.left(eotAt + 1));
    if (check.accepted)
        check.data = f.mid(5, eotAt - 5);
    return check;
}

} // namespace kt::link
