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

    // What the running or last job did with its records.
    struct Counts {
        int total = 0;   // records of the ticked categories
        int done = 0;    // saved into the file, or sent with their value
        int empty = 0;   // Save: card slots the controller holds no card in
        int skipped = 0; // Load: records without a value in the file
    };

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
    const Counts& counts() const { return counts_; }

    bool blnJobActive = false;
    int intDirection = 0; // 0 Save, 1 Load
    QString strDataFile;
    int intStep = 0;
    QTimer tmrProcess;

  private:
    // Takes the ticked categories, the address and the card count; a job
    // uses these copies from its start to its end. False, with a message,
    // when nothing is ticked.
    bool takeChoices();
    bool isSelected(const Category& category) const;
    // Writes the title and the manifest of a starting Save.
    bool writeSaveHead(const QString& path);
    // Asks before a Load from a backup that may not restore the controller
    // as it was; true when there is nothing to ask or the user goes on.
    bool confirmLoad(const QString& path);
    void start(int direction, const char* pathKey, const QString& path);

    void stepSetUp();
    void stepCategory(const Category& category);
    void stepUserCards(const Category& category);
    void stepEnd(bool finished);
    // The job is still the one the running tick belongs to, and not cancelled.
    bool alive() const { return blnJobActive && tickSerial_ == jobSerial_; }

    // Progress + 1 and the caption of the next record or group.
    void advance(const QString& caption);
    // Moves one record; false when the step must end (link failure, a
    // failed write, or the job cancelled meanwhile).
    bool transferRecord(const QByteArray& key);
    bool transferCard(int index);
    // Stores one record of a Save; false, with the job stopped and a
    // message, when it cannot be stored.
    bool store(const QString& file, const QByteArray& key, const QByteArray& value);
    bool stopWithMessage(const QString& text);
    // The summary of a job that stopped short.
    void showStoppedSummary();

    JobView& view_;
    const QString iniFile_;
    std::unique_ptr<link::LinkTransaction> link_;
    QString strCaption_;
    double progressValue_ = 0;
    double progressMax_ = 1;
    bool inTick_ = false;
    // Every start makes a new job; a tick that outlives its job (cancelled
    // inside a link wait) must not touch the next one.
    quint64 jobSerial_ = 0;
    quint64 tickSerial_ = 0;

    QByteArray address_; // two digits
    int cardCount_ = 0;
    QList<const Category*> selected_;
    Counts counts_;
};

} // namespace kt::engine
