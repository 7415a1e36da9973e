// A hook: a program the fleet file names, run without a shell, with the
// details of the run in environment variables and a time limit. Each line
// it prints is handed on, never mixed into the program's own output.
#pragma once

#include "shell/result.h"

#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <QTimer>
#include <functional>
#include <memory>
#include <utility>

namespace kt::fleet {

inline constexpr int kHookSeconds = 60;

using Variables = QList<std::pair<QString, QString>>;

// One controller in a hook's details.
struct HookEntry {
    QString controller, port, address, file, outcome, error;
};

// A hook's variables: KT560AX_CONTROLLER, _PORT, _ADDRESS, _FILE and _ERROR
// with a line per entry, then `common`, each bounded so that the hook can
// always start; and KT560AX_LIST, a private file that holds every entry
// whole, one line each (tab-separated: controller, port, address, file,
// outcome, error), removed when the details go.
struct HookDetails {
    Variables variables;
    std::unique_ptr<QTemporaryFile> list;
};
HookDetails hookDetails(const QList<HookEntry>& entries, const Variables& common);

// A run of `command` (a program and its arguments) with `variables` added
// to the environment. It is killed with all it started after `seconds`, or
// at stop(). Each line it prints goes to `output`. ended() comes once it
// has ended, always from the event loop, also when it could not be started;
// then result() says why it failed, for the summary.
class Hook : public QObject {
    Q_OBJECT
  public:
    Hook(QStringList command, const Variables& variables,
         std::function<void(const QString&)> output, int seconds = kHookSeconds);
    ~Hook() override;

    void start();
    // Kills it at once; it ends "stopped by a signal". Nothing once it has
    // ended.
    void stop();
    const shell::Status& result() const { return result_; }

  signals:
    void ended();

  private:
    void relay(bool all);
    void finish();

    QStringList command_;
    std::function<void(const QString&)> output_;
    int seconds_;
    QProcess process_;
    QTimer limit_;
    QByteArray partial_; // of a line not yet handed on
    bool overran_ = false;
    bool interrupted_ = false;
    bool finished_ = false;
    shell::Status result_ = shell::done();
};

} // namespace kt::fleet
