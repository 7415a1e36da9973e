// One copy of the window at a time: a second start asks the running copy to
// bring its window to the front, through a local socket, and ends.
#pragma once

#include <QLocalServer>
#include <QString>
#include <functional>

namespace kt::app {

// The socket of this user's running copy and the lock beside it, in the
// user's runtime folder (see shell::runtimeFolder).
QString instanceSocket(const QString& runtimeFolder);
QString instanceLock(const QString& runtimeFolder);

// Asks the running copy to come to the front; true when it answered.
bool bringRunningCopyToFront(const QString& socket);

// Serves the later starts: each calls `toFront`.
class InstanceServer {
  public:
    InstanceServer(const QString& socket, std::function<void()> toFront);

  private:
    QLocalServer server_;
};

} // namespace kt::app
