// Runs a fleet's backups: a `kt560ax save` job per controller (in job
// processes that each run up to JobsPerProcess of them), those on one line
// (a port, a bus, a device server) one after another, at most Jobs at a
// time, and the ones that failed on the line tried again after all the
// others.
#pragma once

#include "engine/job_outcome.h"
#include "fleet_file.h"
#include "job_processes.h"
#include "link/port_naming.h"

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>

class QTimer;

namespace kt::fleet {

struct ControllerRun {
    const FleetController* controller = nullptr;
    QString file;                                          // the backup of its last try
    int status = 0;                                        // the exit status of its last try
    QJsonObject summary;                                   // the --json line of its last try
    int tries = 0;                                         // 0: never tried
    int busyTries = 0;                                     // those that found the port busy
    QDateTime started;                                     // of its last try
    engine::JobOutcome outcome = engine::JobOutcome::None; // of its last try
    QString error; // why its last try failed; empty when it did not
    bool complete() const { return tries > 0 && outcome == engine::JobOutcome::Finished; }
};

// What makes two port names one line: the device by its resolved path, or
// the server by each address its name resolves to, with its port.
QStringList linesOf(const link::PortAddress& address);

// How a try ended: the outcome its job gave in its summary, else the one
// its exit status stands for.
engine::JobOutcome outcomeOf(int status, const QJsonObject& summary);

class FleetRunner : public QObject {
    Q_OBJECT
  public:
    // `program` runs a job as `program save FILE --port ... ` followed by
    // `jobArguments` (handed to `program jobs` where jobs share a process); `lines` says for each
    // controller which lines it uses (two controllers that share one share a queue).
    FleetRunner(const Fleet& fleet, QString program, QStringList jobArguments,
                const QList<QStringList>& lines);
    ~FleetRunner() override;

    // Starts every controller, with the retries of the fleet's settings;
    // `stamp` names the backups. finished() comes, from the event loop, once
    // all have ended or after stop(). Called once.
    void start(const QString& stamp);
    // Stops the jobs that run (killed if they have not ended within
    // kStopGraceMs) and starts no more.
    void stop();
    static constexpr int kStopGraceMs = 15000;
    // A try that finds its port busy (a job of a run that was ended may
    // still be letting go of it) is tried again after this wait, up to this
    // many times in a run, without using up the fleet's Retries.
    static constexpr int kBusyPortWaitMs = 1000;
    static constexpr int kBusyPortTries = 10;

    // Each job runs `command FILE FILES...` instead of `save FILE`, with
    // these categories and card count instead of each controller's own
    // (an empty list keeps the controller's). Set before start().
    void setCommand(QString command, QStringList files = {});
    void setScope(QList<const engine::Category*> categories, int cards);

    const QList<ControllerRun>& runs() const { return runs_; }
    // The texts (Language.ini by key) a folder's problem is told in.
    void setTexts(std::function<QString(const char*)> text) { text_ = std::move(text); }

  signals:
    // A try of runs()[index] has begun.
    void tryStarted(int index);
    // runs()[index] has ended for this run: it finished, or failed with no
    // try left.
    void controllerEnded(int index);
    // `count` controllers are tried again after `seconds`.
    void retrying(int count, int seconds);
    // Every controller has ended for this run, or the run was stopped and
    // its jobs have ended: runs() holds the result.
    void finished();

  private:
    struct Queue;
    void startMore();
    void startJob(Queue& queue, int job);
    void finishRound();
    // Reports the end once.
    void finish();
    void ended(Queue& queue, int index, int status, const QByteArray& output,
               const QByteArray& errors);
    // No try left for this controller in this run.
    bool lastTry(const ControllerRun& job) const;
    // Removes the set of a try that stored no record; false when it did.
    static bool dropIfEmpty(const QString& file);

    const Fleet& fleet_;
    QString program_;
    std::function<QString(const char*)> text_;
    QStringList jobArguments_;
    QString command_ = QStringLiteral("save");
    QStringList files_;                              // after the job's own
    QList<const engine::Category*> scopeCategories_; // empty: each controller's
    int scopeCards_ = 0;
    QString stamp_;
    QList<ControllerRun> runs_;
    std::map<int, Queue> queues_;
    QList<int> queueOf_;                  // of each run
    std::map<int, QStringList> partials_; // stopped tries of a run, this time
    std::unique_ptr<JobProcesses> processes_;
    int running_ = 0;
    bool stopped_ = false;
    bool finished_ = false;
    std::unique_ptr<QTimer> pause_;
};

} // namespace kt::fleet
