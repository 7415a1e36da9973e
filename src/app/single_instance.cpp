#include "single_instance.h"

#include <QDir>
#include <QLocalSocket>

namespace kt::app {

QString instanceSocket(const QString& runtimeFolder) {
    return QDir(runtimeFolder).filePath(QStringLiteral("kt560ax-backup.socket"));
}

QString instanceLock(const QString& runtimeFolder) {
    return QDir(runtimeFolder).filePath(QStringLiteral("kt560ax-backup.lock"));
}

bool bringRunningCopyToFront(const QString& name) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(2000))
        return false;
    socket.write("front\n");
    socket.flush();
    // The running copy answers once its window is in front.
    return socket.waitForReadyRead(2000) && socket.readAll().startsWith("ok");
}

InstanceServer::InstanceServer(const QString& socket, std::function<void()> toFront) {
    // A copy that crashed may have left its socket behind.
    QLocalServer::removeServer(socket);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(socket);
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
