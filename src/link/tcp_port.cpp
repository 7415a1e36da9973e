#include "tcp_port.h"
#include "shell/text_format.h"

#include <algorithm>

namespace kt::link {

void TcpPort::setTarget(const QString& host, quint16 port, bool rfc2217, const QString& label) {
    host_ = host;
    port_ = port;
    rfc2217_ = rfc2217;
    label_ = label;
}

void TcpPort::startOpen(Clock& clock, std::function<void(bool)> done) {
    close();
    ClockCall& call = beginOpen(clock);
    if (host_.isEmpty())
        fail(QStringLiteral("No server has been named."));
    if (host_.isEmpty() || !settingsReady())
        return reportOpen(false, std::move(done));

    opened_ = std::move(done);
    phase_ = Phase::Connecting;
    telnet_ = TelnetCodec();
    pending_.clear();
    socket_ = std::make_unique<QTcpSocket>();
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_->setReadBufferSize(kMaxBuffered);
    connect(socket_.get(), &QTcpSocket::connected, this, &TcpPort::onConnected);
    // A failure is taken once the socket's own signal has returned.
    connect(socket_.get(), &QTcpSocket::disconnected, this, &TcpPort::onDropped,
            Qt::QueuedConnection);
    connect(socket_.get(), &QTcpSocket::errorOccurred, this, &TcpPort::onDropped,
            Qt::QueuedConnection);
    connect(socket_.get(), &QTcpSocket::readyRead, this, [this] {
        if (phase_ == Phase::Negotiating)
            return negotiate();
        drain();
        if (!pending_.isEmpty())
            emit arrived();
    });
    call.at(clock.nowMs() + kConnectTimeoutMs, [this] {
        failOpen(shell::fillIn(QStringLiteral("no answer within %1 s"),
                               {QString::number(kConnectTimeoutMs / 1000)}));
    });
    socket_->connectToHost(host_, port_);
}

void TcpPort::onConnected() {
    if (!rfc2217_)
        return finishOpen();
    phase_ = Phase::Negotiating;
    socket_->write(TelnetCodec::opening(*settings()));
    socket_->flush();
    Clock& clock = openClock();
    beginOpen(clock).at(clock.nowMs() + kConnectTimeoutMs, [this] { failOpen({}); });
}

void TcpPort::negotiate() {
    pending_ += telnet_.decode(socket_->readAll());
    keepNewest(pending_);
    if (const QByteArray replies = telnet_.takeReplies(); !replies.isEmpty())
        socket_->write(replies);
    if (telnet_.settingsAcknowledged())
        return finishOpen();
    // The socket may be the sender of the signal being handled: the open
    // ends from the clock.
    if (telnet_.refusedComPort() || telnet_.protocolError() ||
        socket_->bytesToWrite() > kMaxUnsent) {
        Clock& clock = openClock();
        beginOpen(clock).at(clock.nowMs(), [this] { failOpen({}); });
    }
}

void TcpPort::finishOpen() {
    // Bytes that came before the open are not a reply.
    pending_.clear();
    socket_->readAll();
    phase_ = Phase::Open;
    clearError();
    setOpenError(OpenError::None, {});
    reportOpen(true, std::exchange(opened_, {}));
}

void TcpPort::failOpen(const QString& reason) {
    const bool negotiating = phase_ == Phase::Negotiating;
    std::function<void(bool)> done = std::exchange(opened_, {});
    Clock& clock = openClock();
    close();
    if (negotiating) {
        setOpenError(OpenError::Server, label_, {},
                     QStringLiteral("does not take serial settings by RFC 2217"));
        fail(shell::fillIn(QStringLiteral("The server %1:%2 does not take serial settings by RFC "
                                          "2217. Set it to telnet RFC 2217 mode, or set its serial "
                                          "side by hand and use tcp://%1:%2."),
                           {host_, QString::number(port_)}));
    } else {
        setOpenError(OpenError::Server, label_, {}, reason);
        fail(shell::fillIn(QStringLiteral("Cannot connect to the serial device server %1:%2 (%3): "
                                          "%4. Check that the server is on, that the address and "
                                          "port are right and that no firewall is in the way."),
                           {host_, QString::number(port_), label_, reason}));
    }
    reportAtOnce(clock, false, std::move(done));
}

void TcpPort::close() {
    dropOpen();
    opened_ = nullptr;
    phase_ = Phase::Closed;
    dropping_ = false;
    pending_.clear();
    if (!socket_)
        return;
    socket_->disconnect(this);
    socket_->abort();
    socket_.reset();
}

bool TcpPort::isOpen() const {
    return socket_ && phase_ == Phase::Open && !dropping_ &&
           socket_->state() == QAbstractSocket::ConnectedState;
}

void TcpPort::drain() {
    if (!socket_ || phase_ != Phase::Open || dropping_)
        return;
    const QByteArray received = socket_->readAll();
    pending_ += rfc2217_ ? telnet_.decode(received) : received;
    keepNewest(pending_);
    if (rfc2217_ && telnet_.protocolError())
        return dropLater(
            shell::fillIn(QStringLiteral("The serial device server %1 broke the telnet "
                                         "protocol (a subnegotiation longer than %2 "
                                         "bytes)."),
                          {label_, QString::number(TelnetCodec::kMaxSubnegotiation)}));
    if (const QByteArray replies = telnet_.takeReplies(); !replies.isEmpty())
        socket_->write(replies);
    if (socket_->bytesToWrite() > kMaxUnsent)
        dropLater(QStringLiteral("The serial device server %1 does not take what is sent to it.")
                      .arg(label_));
}

void TcpPort::dropLater(const QString& description) {
    dropping_ = true;
    fail(description);
    // The socket may be the sender of the signal being handled: it goes
    // once that has returned.
    QMetaObject::invokeMethod(
        this,
        [this, description] {
            if (!socket_)
                return;
            close();
            fail(description);
            emit lost(errorString());
        },
        Qt::QueuedConnection);
}

QByteArray TcpPort::readAll() {
    drain();
    QByteArray data;
    data.swap(pending_);
    return data;
}

bool TcpPort::write(const QByteArray& bytes) {
    if (!isOpen() || dropping_)
        return fail(QStringLiteral("The connection to %1 is not open.").arg(label_));
    const QByteArray wire = rfc2217_ ? TelnetCodec::escape(bytes) : bytes;
    if (socket_->write(wire) != wire.size())
        return fail(
            QStringLiteral("Writing to %1 failed: %2.").arg(label_, socket_->errorString()));
    socket_->flush();
    if (socket_->bytesToWrite() > kMaxUnsent) {
        dropLater(QStringLiteral("The serial device server %1 does not take what is sent to it.")
                      .arg(label_));
        return false;
    }
    return true;
}

void TcpPort::onDropped() {
    if (!socket_)
        return;
    const QString detail = socket_->errorString();
    if (phase_ != Phase::Open)
        return failOpen(detail);
    close();
    fail(shell::fillIn(QStringLiteral("%1: the device server closed the connection (%2)."),
                       {label_, detail}));
    emit lost(errorString());
}

} // namespace kt::link
