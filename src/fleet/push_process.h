// A push of a fleet's history in a program of its own: `kt560ax push
// FLEET.ini` with kPushChildVariable set, which pushes in its own process.
// A push inside this process could not be interrupted; this one ends, with
// all it started, at its time limit, at stop() and with this process,
// however this process ends.
#pragma once

#include "remote_address.h"
#include "shell/result.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

namespace kt::fleet {

// Set for the program that pushes: it pushes in its own process, and its
// parent holds the time limit.
inline constexpr char kPushChildVariable[] = "KT560AX_PUSH_CHILD";

class PushProcess : public QObject {
    Q_OBJECT
  public:
    // `program` is a kt560ax; `seconds` is the fleet's PushTimeout.
    PushProcess(QString program, QString fleetFile, RemoteAddress remote, int seconds);
    ~PushProcess() override;

    // ended() comes once it has ended, always from the event loop, also
    // when it could not be started.
    void start();
    // Kills it and all it started at once; it ends "stopped by a signal".
    // Nothing once it has ended.
    void stop();
    // Done, or why the push failed, without the remote's credentials.
    const shell::Status& result() const { return result_; }
    // It was ended by stop(): no word on the remote.
    bool stopped() const { return stopped_; }

  signals:
    void ended();

  private:
    void kill();
    void finish();

    QString program_;
    QString fleetFile_;
    RemoteAddress remote_;
    int seconds_;
    QProcess process_;
    QTimer limit_;
    QTimer grace_; // for a push that was killed to end
    bool timedOut_ = false;
    bool stopped_ = false;
    bool finished_ = false;
    shell::Status result_ = shell::done();
};

} // namespace kt::fleet
