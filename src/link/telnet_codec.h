// The telnet side of an RFC 2217 serial device server: the options the
// program asks for (binary transmission, suppress go-ahead, COM-PORT-OPTION),
// the serial settings as COM-PORT-OPTION subnegotiations, IAC escaping of
// the data sent, and unescaping of the data received with the server's
// commands taken out.
#pragma once

#include "port_settings.h"

#include <QByteArray>
#include <bitset>

namespace kt::link {

class TelnetCodec {
  public:
    static constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251,
                                   SB = 250, SE = 240;
    static constexpr unsigned char kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
    // Longer than any subnegotiation a server sends; a longer one is a
    // protocol error.
    static constexpr qsizetype kMaxSubnegotiation = 512;

    // The negotiation and the settings, to send once connected.
    static QByteArray opening(const PortSettings& settings);
    // Data with every IAC byte doubled.
    static QByteArray escape(const QByteArray& data);

    // Takes bytes from the server; returns the data among them. Replies
    // the server's requests call for collect in `replies()`.
    QByteArray decode(const QByteArray& bytes);
    QByteArray takeReplies();

    bool refusedComPort() const { return refusedComPort_; } // DONT or WONT COM-PORT-OPTION
    bool settingsAcknowledged() const { return baudAcknowledged_; }
    // The server broke the protocol (an endless subnegotiation); nothing
    // more is decoded.
    bool protocolError() const { return protocolError_; }

  private:
    void onOption(unsigned char command, unsigned char option);
    void onSubnegotiation(const QByteArray& body);

    enum class State { Data, Iac, Option, Sub, SubIac } state_ = State::Data;
    unsigned char command_ = 0;
    QByteArray sub_;
    QByteArray replies_;
    // Each option is refused once: a server that asks again and again gets
    // no more answers, so the replies stay bounded.
    std::bitset<256> refusedDo_;
    std::bitset<256> refusedWill_;
    bool protocolError_ = false;
    bool refusedComPort_ = false;
    bool baudAcknowledged_ = false;
};

} // namespace kt::link
