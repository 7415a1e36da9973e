// One copy of the window at a time: a second start asks the running copy to
// bring its window to the front, through a local socket, and ends.
#pragma once

#include <QLocalServer>
#include <QString>
#include <functional>

namespace kt::app {

// The name of the socket of this user's running copy.
QString instanceName();

// Asks the running copy to come to the front; true when it answered.
bool bringRunningCopyToFront();

// Serves the later starts: each calls `toFront`.
class InstanceServer {
  public:
    explicit InstanceServer(std::function<void()> toFront);

  private:
    QLocalServer server_;
};

} // namespace kt::app
