// One save, load or verify against one controller, in the program's event
// loop: the port opens, the job runs, and ended() says it is over, with its
// exit status and --json summary. kt560ax save runs one; kt560ax jobs runs
// a fleet's saves side by side in one process.
#pragma once

#include "cli_view.h"
#include "engine/job_log.h"
#include "engine/transfer_job.h"
#include "link/clock.h"
#include "link/line_port.h"
#include "options.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <memory>

namespace kt::cli {

class TransferRun : public QObject {
    Q_OBJECT
  public:
    // Its messages go to `say`, line by line; to standard error without.
    TransferRun(CliOptions options, QString iniFile, CliView::Say say = {});
    ~TransferRun() override;

    // Begins. ended() comes from the event loop, also when the port cannot
    // be opened.
    void start();
    // A stop: an open under way is given up, a job cancelled as a user
    // would. ended() follows.
    void cancel();

    int status() const { return status_; }
    // The --json summary; empty without --json and for a run stopped before
    // its port opened, which did no job.
    const QJsonObject& summary() const { return summary_; }
    // A verify's differences as the terminal shows them; empty when none.
    QString differencesText() const;

  signals:
    // It is over. Delete it later, never in a slot of this signal.
    void ended();

  private:
    void opened(bool ok);
    void portFailed();
    void jobEnded();
    void end(int status);
    QJsonObject summaryOf(const engine::TransferJob* job, engine::JobOutcome outcome,
                          const QString& error, double seconds, int status) const;
    void say(const QString& text) const;

    CliOptions options_;
    QString iniFile_;
    CliView::Say say_;
    engine::JobRequest request_;
    link::LinePort port_;
    link::EventLoopClock clock_;
    std::unique_ptr<CliView> view_;
    std::unique_ptr<engine::TransferJob> job_;
    engine::JobLog log_;
    QElapsedTimer elapsed_;
    int status_ = 0;
    bool cancelled_ = false;
    bool ended_ = false;
    QJsonObject summary_;
};

} // namespace kt::cli
