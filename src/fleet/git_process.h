// A push or a fetch of a history in a program of its own: kt560ax with
// the command's arguments and a variable that tells it to do the work in
// its own process. One inside this process could not be interrupted; this
// one ends, with all it started, at its time limit, at stop() and with this
// process, however this process ends.
#pragma once

#include "remote_address.h"
#include "shell/result.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace kt::fleet {

// Set for the program that pushes, or fetches a remote's branches into
// its cache: it does so in its own process, and its parent holds the time
// limit.
inline constexpr char kPushChildVariable[] = "KT560AX_PUSH_CHILD";
inline constexpr char kFetchChildVariable[] = "KT560AX_FETCH_CHILD";

class GitProcess : public QObject {
    Q_OBJECT
  public:
    // `program` is a kt560ax run with `arguments` and `childVariable` set;
    // it may take `seconds`, the limit that `limitName` names in a message
    // (PushTimeout). `what` names the work ("push").
    GitProcess(QString program, QStringList arguments, const char* childVariable,
               RemoteAddress remote, int seconds, QString limitName, QString what);
    ~GitProcess() override;

    // A push of `fleetFile`'s history, within its PushTimeout.
    static std::unique_ptr<GitProcess> push(const QString& program, const QString& fleetFile,
                                            const RemoteAddress& remote, int seconds);
    // A fetch of `remote`'s branches into its copy in the user's cache
    // (fetchSite), within `seconds` (--fetch-timeout).
    static std::unique_ptr<GitProcess> fetch(const QString& program, const RemoteAddress& remote,
                                             int seconds);

    // ended() comes once it has ended, always from the event loop, also
    // when it could not be started.
    void start();
    // Kills it and all it started at once; it ends "stopped by a signal".
    // Nothing once it has ended.
    void stop();
    // Done, or why it failed, without the remote's credentials.
    const shell::Status& result() const { return result_; }
    // It was ended by stop(): no word on the remote.
    bool stopped() const { return stopped_; }

  signals:
    void ended();

  private:
    void kill();
    void finish();

    QString program_;
    QStringList arguments_;
    RemoteAddress remote_;
    int seconds_;
    QString limitName_;
    QString what_;
    QProcess process_;
    QTimer limit_;
    QTimer grace_; // for a push that was killed to end
    bool timedOut_ = false;
    bool stopped_ = false;
    bool finished_ = false;
    shell::Status result_ = shell::done();
};

} // namespace kt::fleet
