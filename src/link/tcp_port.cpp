#include "tcp_port.h"
#include "shell/text_format.h"

#include <QDeadlineTimer>
#include <algorithm>

namespace kt::link {

void TcpPort::setTarget(const QString& host, quint16 port, bool rfc2217, const QString& label) {
    host_ = host;
    port_ = port;
    rfc2217_ = rfc2217;
    label_ = label;
}

bool TcpPort::setSettings(const QByteArray& text) {
    const shell::Result<PortSettings> parsed = parsePortSettings(text);
    settings_ = parsed ? std::optional(*parsed) : std::nullopt;
    return parsed ? true : fail(parsed.error().message);
}

bool TcpPort::fail(const QString& description) {
    error_ = description;
    return false;
}

bool TcpPort::waitFor(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        // Sends what is queued and waits for more to arrive, without
        // running the event loop; a closed connection ends the wait at once.
        socket_->waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
    }
    return true;
}

bool TcpPort::open() {
    close();
    if (host_.isEmpty())
        return fail(QStringLiteral("No server has been named."));
    if (!settings_)
        return error_.isEmpty() ? fail(QStringLiteral("No settings have been given.")) : false;

    socket_ = std::make_unique<QTcpSocket>();
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_->setReadBufferSize(kMaxBuffered);
    socket_->connectToHost(host_, port_);
    // A wait of the socket's own: the event loop does not run during it.
    if (!socket_->waitForConnected(kConnectTimeoutMs)) {
        // At the limit the socket gives up with a time-out error of its own.
        const QString reason = socket_->error() == QAbstractSocket::SocketTimeoutError ||
                                       socket_->state() != QAbstractSocket::UnconnectedState
                                   ? shell::fillIn(QStringLiteral("no answer within %1 s"),
                                                   {QString::number(kConnectTimeoutMs / 1000)})
                                   : socket_->errorString();
        socket_.reset();
        setOpenError(OpenError::Server, label_, {}, reason);
        return fail(shell::fillIn(QStringLiteral("Cannot connect to the serial device server "
                                                 "%1:%2 (%3): %4. Check that the server is on, "
                                                 "that the address and port are right and that "
                                                 "no firewall is in the way."),
                                  {host_, QString::number(port_), label_, reason}));
    }
    telnet_ = TelnetCodec();
    pending_.clear();
    if (rfc2217_) {
        socket_->write(TelnetCodec::opening(*settings_));
        socket_->flush();
        const bool answered = waitFor(
            [this] {
                pending_ += telnet_.decode(socket_->readAll());
                keepNewest(pending_);
                if (const QByteArray replies = telnet_.takeReplies(); !replies.isEmpty())
                    socket_->write(replies);
                return telnet_.settingsAcknowledged() || telnet_.refusedComPort() ||
                       telnet_.protocolError() || socket_->bytesToWrite() > kMaxUnsent ||
                       socket_->state() != QAbstractSocket::ConnectedState;
            },
            kConnectTimeoutMs);
        if (!answered || !telnet_.settingsAcknowledged()) {
            socket_.reset();
            setOpenError(OpenError::Server, label_, {},
                         QStringLiteral("does not take serial settings by RFC 2217"));
            return fail(shell::fillIn(QStringLiteral("The server %1:%2 does not take serial "
                                                     "settings by RFC 2217. Set it to telnet RFC "
                                                     "2217 mode, or set its serial side by hand "
                                                     "and use tcp://%1:%2."),
                                      {host_, QString::number(port_)}));
        }
    }
    // Bytes that came before the open are not a reply.
    pending_.clear();
    socket_->readAll();
    connect(socket_.get(), &QTcpSocket::disconnected, this, &TcpPort::onDropped,
            Qt::QueuedConnection);
    connect(socket_.get(), &QTcpSocket::errorOccurred, this, &TcpPort::onDropped,
            Qt::QueuedConnection);
    connect(socket_.get(), &QTcpSocket::readyRead, this, [this] {
        drain();
        if (!pending_.isEmpty())
            emit arrived();
    });
    error_.clear();
    setOpenError(OpenError::None, {});
    return true;
}

void TcpPort::close() {
    dropping_ = false;
    pending_.clear();
    if (!socket_)
        return;
    socket_->disconnect(this);
    socket_->abort();
    socket_.reset();
}

bool TcpPort::isOpen() const {
    return socket_ && !dropping_ && socket_->state() == QAbstractSocket::ConnectedState;
}

void TcpPort::drain() {
    if (!socket_ || dropping_)
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
            emit lost(error_);
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
    close();
    fail(shell::fillIn(QStringLiteral("%1: the device server closed the connection (%2)."),
                       {label_, detail}));
    emit lost(error_);
}

} // namespace kt::link
