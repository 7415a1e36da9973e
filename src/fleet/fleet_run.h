// One run of a fleet: every controller backed up (with its retries), each
// new backup compared with the controller's last version and with its last
// good one, the changed ones committed to the history, old backups pruned,
// the fleet's state recorded, the metrics and the report written, the hooks
// called and the history pushed. It reports through a view and prints
// nothing itself.
#pragma once

#include "fleet_file.h"
#include "fleet_runner.h"
#include "fleet_state.h"
#include "git_process.h"
#include "history.h"
#include "record_changes.h"
#include "report_page.h"
#include "version_digests.h"

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

namespace kt::fleet {

// What the run found.
struct RunResult {
    QList<ControllerRun> runs;
    QList<RecordChanges> changes; // of each run; empty unless complete
    QList<int> changed;           // indexes of runs whose records changed
    QList<int> failed;            // indexes of runs that did not finish
    QList<HeldCounts> held;       // of each run's backup, as the collapse rule counts it
    QList<int> suspicious;        // indexes of runs whose backup collapsed
    QStringList suspicions;       // of each run: why its backup is suspicious, else empty
    QString historyProblem;
    QString pushProblem;
    int pushFailures = 0; // the last runs in a row whose push failed, this one included
    bool committed = false;
    QStringList notWritten; // "state", "report", "metrics" that could not be written
    QJsonArray hooks;       // each hook's call: its name, ok, and its problem
    int status = 0;         // the exit status of the run

    // "2 controllers changed, 1 failed", and ", 1 suspicious" when one is.
    QString headline() const;
    // A changed run's line: its changes in categories and slots.
    QString changeLine(int i) const;
    // A failed run's line: "dead: port unavailable after 3 tries: why".
    QString failureLine(int i) const;
    // A suspicious run's line: "north: suspicious: 40 cards before, 0 after; ...".
    QString suspicionLine(int i) const;
    // The headline, then a line for each change, the failures and
    // suspicious backups grouped by cause, and a line for each problem.
    QString summary() const;
};

class FleetRunView {
  public:
    virtual ~FleetRunView() = default;
    // Controller `index` of the run's list has ended for this run; `ended`
    // counts those that have, of `total`.
    virtual void controllerEnded(const RunResult& result, int index, int ended, int total) = 0;
    // A round of retries begins after a pause.
    virtual void retrying(int count, int seconds) = 0;
    // Something of the run itself went wrong (the history, a push, a page,
    // a hook): one line.
    virtual void problem(const QString& text) = 0;
    // A line that a hook printed.
    virtual void hookOutput(const QString& hook, const QString& line) = 0;
};

struct RunSettings {
    QString fleetFile{};
    QString program{};          // the kt560ax that runs each job
    QStringList jobArguments{}; // after the job's own
    QStringList controllers{};  // the controllers backed up; empty: every one
    QList<QStringList> lines{}; // of each controller backed up: the lines it uses
    int keep = 0;               // complete backups kept per controller; 0 keeps all
    QString metrics{};          // a metrics file besides [fleet]'s
    PageLanguage language{};    // of the report page
};

class FleetRun : public QObject {
    Q_OBJECT
  public:
    FleetRun(const Fleet& fleet, RunSettings settings, FleetRunView& view);

    ~FleetRun() override;

    // Starts the run: the jobs, then once they have ended the state, the
    // history, the pruning, the push, the pages and the hooks one after
    // another. finished() comes, from the event loop, when everything is
    // done or, after stop(), as soon as the step it stopped has ended.
    // Called once.
    void start();
    // Stops the jobs, a hook and a push that run at once; calls no more
    // hooks and pushes nothing.
    void stop();
    const RunResult& result() const { return result_; }

  signals:
    void finished();

  private:
    struct HookCall;
    void controllerEnded(int index);
    void jobsEnded();
    // The record of run `index` after this run, from what `state` held of
    // it, with its backup judged against its last good one.
    ControllerRecord judged(int index, const FleetState& state);
    void commit();
    // Judges each backup against the state as it is now and records the
    // state, under the state's lock. Returns it, also when it could not be
    // written: what was judged still decides what --keep spares.
    FleetState recordState();
    // Records the runs in a row whose push failed, once the push has ended;
    // past PushFailLimit the run exits kFileError.
    void recordPush();
    // The state as recorded could not be: says why.
    void stateNotWritten(const QString& why);
    void writePages();
    // The hooks this run calls, in their order.
    void queueHooks();
    void nextHook();
    void hookEnded();
    void push();
    void pushEnded();
    void finish();

    const Fleet& fleet_;
    RunSettings settings_;
    FleetRunView& view_;
    const Fleet chosen_; // the controllers this run backs up
    FleetRunner runner_;
    std::unique_ptr<History> history_;
    // With an encrypted history: the digests of the committed versions, and
    // of each run's new backup.
    std::unique_ptr<CommittedDigests> digests_;
    QList<QMap<QByteArray, QByteArray>> newDigests_;
    RunResult result_;
    FleetState known_; // as the run began: what a controller's end is told against
    FleetState state_; // as this run judged it, whether or not it could be written
    int ended_ = 0;
    bool stopped_ = false;
    QList<std::shared_ptr<HookCall>> hooks_; // still to be called
    std::shared_ptr<HookCall> hook_;         // the one that runs
    std::unique_ptr<GitProcess> push_;
};

} // namespace kt::fleet
