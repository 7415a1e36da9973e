// Save and Load jobs: a state machine driven by the 10 ms timer tmrProcess.
// Step 1 sets the job up, steps 2 to 10 each transfer one category whole
// (one link transaction per record), 998 finishes with the success message,
// 999 ends a job the link or the backup file gave up on.
#pragma once

#include "categories.h"
#include "job_view.h"
#include "link/link_transaction.h"

#include <QObject>
#include <QTimer>
#include <memory>

namespace kt::engine {

class TransferJob : public QObject {
    Q_OBJECT
  public:
    static constexpr int kFinishedStep = 998;
    static constexpr int kAbortedStep = 999;

    // `iniFile` is Language.ini, where the paths of the last jobs are kept.
    TransferJob(link::SerialPort& port, link::Clock& clock, JobView& view,
                const shell::Settings& settings, QString iniFile);

    // Start a Save job into txtSave's file, or a Load job from txtLoad's.
    void cmdSave_Click();
    void cmdLoad_Click();
    // Ends the running job at once; nothing more is sent or written.
    void cmdCancel_Click();
    // One step of the running job.
    void tmrProcess_Timer();

    link::LinkTransaction& link() { return *link_; }

    bool blnJobActive = false;
    int intDirection = 0; // 0 Save, 1 Load
    QString strDataFile;
    int intStep = 0;
    QTimer tmrProcess;

  private:
    void start(int direction, const char* pathKey, const QString& path);
    void stepSetUp();
    void stepCategory(const Category& category);
    void stepUserCards();
    void stepEnd(bool finished);

    // Progress + 1 and the caption of the next record or group.
    void advance(const QString& caption);
    // Moves one record; false when the step must end (link failure, a
    // failed write, or the job cancelled meanwhile).
    bool transferRecord(const QByteArray& key);
    bool transferCard(int index);
    // A backup file that cannot be written stops the job.
    bool stopOnWriteFailure(bool written, const QString& file);
    QByteArray address() const;

    JobView& view_;
    const QString iniFile_;
    std::unique_ptr<link::LinkTransaction> link_;
    QString strCaption_;
    double progressValue_ = 0;
    double progressMax_ = 1;
    bool inTick_ = false;
};

} // namespace kt::engine
