// Request and reply frames of the controller protocol and their CRC-16.
//
// Request: SOH, request text (address "00", command code, index, data), STX,
// four upper-case hex digits of the CRC over SOH..STX, CR.
// Reply:   ETX, address, command code, data, EOT, four hex digits of the CRC
// over ETX..EOT, CR.
// The CRC is CRC-16/ARC (reflected 0x8005, initial 0, no final XOR), computed
// with the two byte tables of the Modbus table-driven CRC. Frames are bytes.
#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

namespace kt::link {

inline constexpr char SOH = 1, STX = 2, ETX = 3, EOT = 4, CR = 13, SO = 14;

namespace detail {
// The reflected CRC-16 (0xA001) of one byte, the source of both tables.
constexpr std::uint16_t crcOfByte(unsigned byte) {
    std::uint16_t crc = std::uint16_t(byte);
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    return crc;
}
constexpr std::array<std::uint8_t, 256> makeTable(bool highTable) {
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i)
        table[i] = highTable ? std::uint8_t(crcOfByte(i) & 0xFF) : std::uint8_t(crcOfByte(i) >> 8);
    return table;
}
} // namespace detail

// The Modbus "auchCRCHi" and "auchCRCLo" tables, indexed by byte value.
inline constexpr std::array<std::uint8_t, 256> CRCHi = detail::makeTable(true);
inline constexpr std::array<std::uint8_t, 256> CRCLo = detail::makeTable(false);

// The CRC of the bytes with the given initial register values.
std::uint16_t crcOfBytes(const QByteArray& bytes, std::uint8_t hi = 0, std::uint8_t lo = 0);

// The number in upper-case hex, zero-padded to four digits (cut to four).
QByteArray Hex4(unsigned value);

// CRC16 of the text with blanks at both ends removed, as four hex digits.
QByteArray CRC16(const QByteArray& text);

// SOH, the request text without leading blanks, STX, the CRC digits and
// CR. Trailing blanks belong to the data: a card record may end in blanks.
QByteArray buildRequestFrame(const QByteArray& requestText);

// Why a reply was refused, for the trace, or that it was accepted.
enum class ReplyVerdict {
    Accepted,
    Unframed,       // empty, no ETX or no CR after it, SO somewhere, or shorter than a frame
    NoEot,          // no EOT in its place
    OtherAddress,   // another controller's reply
    BadCrc,         // the CRC digits do not match (exact, upper case)
    OtherCommand,   // a sound reply of this address to another command: out of order
    MoreAfterReply, // bytes after the frame's CR: a second reply, or more than one
};

const char* verdictText(ReplyVerdict verdict);

struct ReplyCheck {
    ReplyVerdict verdict = ReplyVerdict::Unframed;
    // The cut reply frame (ETX through the first CR) when one could be cut,
    // otherwise the received text with blanks at both ends removed.
    QByteArray frame;
    // The data field; only meaningful when accepted.
    QByteArray data;

    bool accepted() const { return verdict == ReplyVerdict::Accepted; }
};

// Checks the received text as the only reply to `requestFrame`: the frame
// from the first ETX to the first CR, no SO anywhere, at least 11 bytes,
// EOT in its place, the request's address, the CRC digits (exact, upper
// case), the request's command code, and nothing after the CR but blanks.
ReplyCheck checkReply(const QByteArray& received, const QByteArray& requestFrame);

// Whether the bytes hold a sound reply frame (any command) from the address
// of `requestFrame`: a reply that some request of this line is owed.
bool holdsReplyFrom(const QByteArray& bytes, const QByteArray& requestFrame);

} // namespace kt::link
