#include "single_instance.h"

#include <QLocalSocket>
#include <QRegularExpression>

namespace kt::app {

QString instanceName() {
    QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    user.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")));
    return QStringLiteral("kt560ax-backup-%1").arg(user);
}

bool bringRunningCopyToFront() {
    QLocalSocket socket;
    socket.connectToServer(instanceName());
    if (!socket.waitForConnected(2000))
        return false;
    socket.write("front\n");
    socket.flush();
    // The running copy answers once its window is in front.
    return socket.waitForReadyRead(2000) && socket.readAll().startsWith("ok");
}

InstanceServer::InstanceServer(std::function<void()> toFront) {
    // A copy that crashed may have left its socket behind.
    QLocalServer::removeServer(instanceName());
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(instanceName());
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this, toFront] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, toFront] {
                if (!socket->readAll().startsWith("front"))
                    return;
                toFront();
                socket->write("ok\n");
                socket->flush();
            });
        }
    });
}

} // namespace kt::app
