#include "telnet_codec.h"

namespace kt::link {

namespace {

constexpr unsigned char kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                        kSetControl = 5, kServerOffset = 100;

QByteArray command(unsigned char verb, unsigned char option) {
    QByteArray bytes;
    bytes += char(TelnetCodec::IAC);
    bytes += char(verb);
    bytes += char(option);
    return bytes;
}

QByteArray comPort(unsigned char what, const QByteArray& value) {
    QByteArray bytes;
    bytes += char(TelnetCodec::IAC);
    bytes += char(TelnetCodec::SB);
    bytes += char(TelnetCodec::kComPort);
    bytes += char(what);
    bytes += TelnetCodec::escape(value);
    bytes += char(TelnetCodec::IAC);
    bytes += char(TelnetCodec::SE);
    return bytes;
}

unsigned char parityCode(PortSettings::Parity parity) {
    switch (parity) {
    case PortSettings::Parity::None:
        return 1;
    case PortSettings::Parity::Odd:
        return 2;
    case PortSettings::Parity::Even:
        return 3;
    case PortSettings::Parity::Mark:
        return 4;
    case PortSettings::Parity::Space:
        break;
    }
    return 5;
}

unsigned char stopCode(PortSettings::StopBits stopBits) {
    switch (stopBits) {
    case PortSettings::StopBits::One:
        return 1;
    case PortSettings::StopBits::Two:
        return 2;
    case PortSettings::StopBits::OneAndHalf:
        break;
    }
    return 3;
}

} // namespace

QByteArray TelnetCodec::opening(const PortSettings& settings) {
    const quint32 baud = quint32(settings.baudRate);
    QByteArray baudBytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        baudBytes += char((baud >> shift) & 0xFF);
    return command(WILL, kBinary) + command(DO, kBinary) + command(WILL, kSuppressGoAhead) +
           command(DO, kSuppressGoAhead) + command(WILL, kComPort) +
           comPort(kSetBaudRate, baudBytes) +
           comPort(kSetDataSize, QByteArray(1, char(settings.dataBits))) +
           comPort(kSetParity, QByteArray(1, char(parityCode(settings.parity)))) +
           comPort(kSetStopSize, QByteArray(1, char(stopCode(settings.stopBits)))) +
           comPort(kSetControl, QByteArray(1, char(1))); // no flow control
}

QByteArray TelnetCodec::escape(const QByteArray& data) {
    QByteArray escaped;
    escaped.reserve(data.size());
    for (const char c : data) {
        escaped += c;
        if (static_cast<unsigned char>(c) == IAC)
            escaped += c;
    }
    return escaped;
}

QByteArray TelnetCodec::decode(const QByteArray& bytes) {
    QByteArray data;
    for (const char c : bytes) {
        if (protocolError_)
            break;
        const auto byte = static_cast<unsigned char>(c);
        switch (state_) {
        case State::Data:
            if (byte == IAC)
                state_ = State::Iac;
            else
                data += c;
            break;
        case State::Iac:
            if (byte == IAC) {
                data += c;
                state_ = State::Data;
            } else if (byte >= WILL && byte <= DONT) {
                command_ = byte;
                state_ = State::Option;
            } else if (byte == SB) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, GA and the like carry nothing
            }
            break;
        case State::Option:
            onOption(command_, byte);
            state_ = State::Data;
            break;
        case State::Sub:
            if (byte == IAC)
                state_ = State::SubIac;
            else
                sub_ += c;
            protocolError_ = sub_.size() > kMaxSubnegotiation;
            break;
        case State::SubIac:
            if (byte == SE) {
                onSubnegotiation(sub_);
                state_ = State::Data;
            } else {
                sub_ += c; // IAC IAC inside a subnegotiation is one 255
                state_ = State::Sub;
            }
            break;
        }
    }
    return data;
}

QByteArray TelnetCodec::takeReplies() {
    QByteArray replies;
    replies.swap(replies_);
    return replies;
}

void TelnetCodec::onOption(unsigned char verb, unsigned char option) {
    const bool ours = option == kBinary || option == kSuppressGoAhead || option == kComPort;
    if (option == kComPort && (verb == DONT || verb == WONT))
        refusedComPort_ = true;
    // Options the program asked for need no answer; others are refused.
    if (!ours && verb == DO && !refusedDo_[option]) {
        refusedDo_[option] = true;
        replies_ += command(WONT, option);
    } else if (!ours && verb == WILL && !refusedWill_[option]) {
        refusedWill_[option] = true;
        replies_ += command(DONT, option);
    }
}

void TelnetCodec::onSubnegotiation(const QByteArray& body) {
    if (body.size() >= 2 && static_cast<unsigned char>(body[0]) == kComPort &&
        static_cast<unsigned char>(body[1]) == kSetBaudRate + kServerOffset)
        baudAcknowledged_ = true;
}

} // namespace kt::link
