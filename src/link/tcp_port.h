// A serial line reached through a serial device server over TCP: raw (the
// server's serial side is set up on the server) or RFC 2217, where the
// program sets the serial settings through telnet negotiation.
#pragma once

#include "port_settings.h"
#include "serial_port.h"
#include "telnet_codec.h"

#include <QTcpSocket>
#include <memory>

namespace kt::link {

class TcpPort final : public SerialPort {
    Q_OBJECT
  public:
    static constexpr int kConnectTimeoutMs = 5000;

    explicit TcpPort(QObject* parent = nullptr) : SerialPort(parent) {}

    // The server for the next open; `label` names it in messages.
    void setTarget(const QString& host, quint16 port, bool rfc2217, const QString& label);
    // Connects within kConnectTimeoutMs, then, for RFC 2217, has the
    // settings acknowledged within as long again.
    void startOpen(Clock& clock, std::function<void(bool)> done) override;
    void close() override;
    bool isOpen() const override;
    QByteArray readAll() override;
    bool write(const QByteArray& bytes) override;
    bool isServer() const override { return true; }

  private:
    void onConnected();
    // Takes the server's part of the RFC 2217 negotiation.
    void negotiate();
    // The open ends, from the clock: the port open, or closed with why not.
    void finishOpen();
    void failOpen(const QString& reason);
    void onDropped();
    // Takes what arrived into `pending_` (decoded, the server's telnet
    // commands answered), bounded; a server that breaks the protocol or
    // does not read what is sent is dropped.
    void drain();
    // Ends the connection as lost once the current event has been handled.
    void dropLater(const QString& description);

    QString host_;
    quint16 port_ = 0;
    bool rfc2217_ = false;
    QString label_;
    std::unique_ptr<QTcpSocket> socket_;
    TelnetCodec telnet_;
    QByteArray pending_; // data decoded and not yet taken
    enum class Phase { Closed, Connecting, Negotiating, Open };
    Phase phase_ = Phase::Closed;
    std::function<void(bool)> opened_; // the report of the open under way
    bool dropping_ = false;            // found broken, to be closed as lost
};

} // namespace kt::link
