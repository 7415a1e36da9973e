// Save, Load and Verify jobs: a state machine driven by the link's
// replies. The job sets up its plan (every record of the chosen categories,
// in order), then sends one record's request at a time, the next once the
// previous reply has been handled, and ends with its message. It announces
// each category and its end.
#pragma once

#include "backup_file.h"
#include "job_log.h"
#include "job_request.h"
#include "job_view.h"
#include "link/link_transaction.h"
#include "load_warnings.h"
#include "record_compare.h"
#include "save_journal.h"
#include "save_workspace.h"

#include <QMap>
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace kt::engine {

class TransferJob : public QObject {
    Q_OBJECT
  public:
    // What the running or last job did with its records.
    struct Counts {
        int total = 0;   // records of the chosen categories
        int done = 0;    // saved into the file, sent with their value, or compared
        int empty = 0;   // Save: card slots the controller holds no card in
        int skipped = 0; // Load: records without a value in the file
    };

    TransferJob(link::SerialPort& port, link::Clock& clock, JobView& view,
                const link::LineTimes& times);
    // The times of the next job, and of the one under way from its next
    // request on.
    void setLineTimes(const link::LineTimes& times);

    // Starts the job: for a Save, writes the backup's title and manifest;
    // for a Load, checks the file and asks before a risky restore. False,
    // after a message, when nothing starts. A question's answer may come
    // later: the job then starts once it is given, and true means only that
    // it waits; a Cancel then starts nothing, as the answer given at once.
    bool start(const JobRequest& request);
    // Ends the running job at once; nothing more is sent or written.
    void cancel();

    bool isActive() const { return blnJobActive; }
    // What the running or last job does: a restore that verifies itself
    // turns into a verify.
    Direction direction() const { return intDirection; }

    link::LinkTransaction& link() { return *link_; }
    const link::LinkTransaction& link() const { return *link_; }
    const JobRequest& request() const { return request_; }
    const Counts& counts() const { return counts_; }
    // Verify: the records that differ, the file's value before the
    // controller's.
    const QList<RecordDifference>& differences() const { return differences_; }
    // Where each job's end is logged; none by default.
    void setJobLog(const JobLog* log) { log_ = log; }
    JobOutcome outcome() const { return outcome_; }
    // Why the last job failed, in the words of the system or the message
    // shown; empty when it did not.
    const QString& error() const { return error_; }
    // Records handled so far: saved, sent, empty or skipped.
    int processed() const { return counts_.done + counts_.empty + counts_.skipped; }
    // The complete backup the last Save replaced, if it did.
    const std::optional<Manifest>& replacedBackup() const { return replaced_; }
    // Where the last Save, stopped, kept what it read; empty when it did not.
    const QString& keptIn() const { return keptInFile_; }
    // The card slots the last Load left as they were, having no card for
    // them.
    const QList<int>& untouchedCards() const { return untouchedCards_; }
    // Where a restore backed the controller up before it wrote; empty when
    // it did not.
    const QString& backedUpFirst() const { return backedUpFirst_; }
    // What the last job did when it stopped short, in the view's current
    // language ("Backup stopped: 812 of 2559 records saved").
    QString stoppedSummary() const;

  signals:
    // A chosen category's records are about to be transferred, or have all
    // been.
    void categoryStarted(const kt::engine::Category* category);
    void categoryFinished(const kt::engine::Category* category);
    // The job has ended, its message shown and its log line written.
    void finished(kt::engine::JobOutcome outcome);
    // The job log could not take the job's line; the job goes on.
    void logFailed(const QString& reason);

  private:
    // One record of the plan: its caption when it begins a group or a
    // card, and its key (a block's record) or its card slot.
    struct PlannedRecord {
        QString caption;
        QByteArray key;
        int card = 0;
    };
    struct PlannedCategory {
        const Category* category = nullptr;
        QList<PlannedRecord> records;
    };
    // What a record needs before the next one.
    enum class RecordStep { Send, Next, Stop };

    bool save() const { return intDirection == Direction::Save; }
    bool verify() const { return intDirection == Direction::Verify; }
    // The message for a file of the set that cannot be used.
    QString fileProblemText(const shell::Error& error) const;
    // Compares what the controller holds under `key` with the file's value.
    void compare(const QByteArray& key, const QByteArray& inFile, const QByteArray& inController);
    // The end of a Verify: its message and its report.
    void endVerify();
    shell::Status writeReport() const;
    void logJob();
    // A job the user declined at its question: in the log, nothing done.
    void logDeclined(const JobRequest& request);
    // Writes the title and the manifest of a Save into its file before its
    // first record, once: a Save that gets no reply (a wrong address, a
    // dead line) leaves the set as it was. False, with the job stopped and
    // a message, when the file cannot take them.
    bool writeSaveHead();
    // A job between its checks and its start, while a question is up: its
    // request, the lock of its file set, and the set as read.
    struct Opening {
        JobRequest request;
        std::unique_ptr<BackupLock> lock;
        SetRecords set;
        Manifest manifest;
        bool replacing = false; // a Save replaces a complete backup
    };
    // Asks `text`; an Ok runs `then` with the option's state, a Cancel logs
    // the job as declined. True when the job began or waits for the answer.
    bool askFirst(const QString& text, const JobView::Question& kind,
                  const std::shared_ptr<Opening>& opening, std::function<bool(bool ticked)> then);
    // A Load's checks and its question, if any, then the start.
    bool checkLoad(const std::shared_ptr<Opening>& opening);
    // Starts the job `opening` holds.
    bool begin(Opening& opening);
    // The question before a Load when the request wants it, or when the
    // backup may not restore the controller as it was; none, after any
    // notes, when there is nothing to ask. `manifest` and `records` are the
    // backup's, as the job read them.
    std::optional<QString> loadQuestion(const JobRequest& request, const Manifest& manifest,
                                        const QMap<QByteArray, QByteArray>& records);
    // How long reading `request`'s records takes, roughly, as a text.
    QString readingTimeText(const JobRequest& request) const;
    // The line of an end message that names the restore's backup first.
    QString backedUpNote() const;
    // Starts the Save that backs the controller up before the restore
    // `load`, which follows it in this job once it has finished.
    bool startBackupFirst(const JobRequest& load);
    QString warningText(const LoadWarning& warning) const;
    // The question before a Save replaces the complete backup `manifest`
    // tells of.
    QString replaceQuestion(const JobRequest& request, const Manifest& manifest) const;
    // Says how a Save that was killed was ended.
    void tellLeftSave(const QString& file, const SaveEnd& left);
    QString keptBesideText(const QString& file, const SaveEnd& kept) const;
    // Puts a Save's records into the set when it completed (or into a set
    // that held none), else beside it; true when a complete Save's set was
    // replaced. A failure of a complete Save sets the outcome and the error.
    bool endSaveFiles(bool complete);

    // Resets the counts and the progress, plans the records and starts.
    void setUp();
    QList<PlannedCategory> planRecords(const JobRequest& request) const;
    // What a Load sends for a record: its key and its stored value (empty:
    // none, or no usable card).
    struct LoadValue {
        QByteArray key;
        QByteArray value;
    };
    LoadValue loadValue(const Category& category, const PlannedRecord& record) const;
    // The keys of the records of a Load of `request` whose values cannot go
    // into a request frame.
    QStringList unsendableRecords(const JobRequest& request) const;
    // Moves on from record to record until one needs the controller or
    // the job ends.
    void proceed();
    // The request a record needs in `requestText`, or that it needs none.
    RecordStep beginRecord(const Category& category, const PlannedRecord& record,
                           QByteArray& requestText);
    // What the reply to a record's request does; false when the job ended.
    void onReply(const link::TxResult& result);
    bool completeRecord(const Category& category, const PlannedRecord& record);
    // After the last record: the line must stay quiet, so that no reply
    // accepted may have answered another request; then the job finishes.
    void confirmLine();
    // Ends the job; `failure`, when given, is told once it has ended.
    void finish(bool complete, const QString& failure = {});

    // Progress + 1 and the caption of the next record or group.
    void advance(const QString& caption);
    // Takes an accepted reply; false, with the job ended, for any other end.
    bool replyAccepted(const link::TxResult& result);
    // Stores one record of a Save; false, with the job stopped and a
    // message, when it cannot be stored.
    bool store(const QString& file, const QByteArray& key, const QByteArray& value);
    bool stopWithMessage(const QString& text);
    // "FILE - cannot be written", with the cause when the file system tells
    // it, else `reason`, the system's words for the failure.
    QString cannotWrite(const QString& file, const QString& reason = {}) const;
    // Whether a sync or a fold of the Save's journal went well; on failure
    // stops the job (the journal keeps every record) and is false.
    bool journalDone(const shell::Status& status);
    // Refuses to start with a message; false.
    bool refuse(JobOutcome outcome, const QString& text);
    // The line failed for good: the job stops, `reason` for its log and
    // `text` for the user.
    bool lineFailed(JobOutcome outcome, const QString& reason, const QString& text);
    // No controller answered at the job's address on its port, and what to check.
    QString noControllerText() const;
    // The summary of a job that stopped short.
    void showStoppedSummary();
    // What the end message of a job that finished says besides its counts:
    // the backup a Save replaced, values a restore cannot send, card slots
    // a Load left as they were.
    QString endNotes() const;
    // Takes the time the job ends at, once: its end message may stay up for
    // a while, and the log keeps when the job ended.
    void markEnded();

    JobView& view_;
    link::SerialPort& port_;
    std::unique_ptr<link::LinkTransaction> link_;
    link::Clock& clock_;
    link::ClockCall setUpCall_;
    std::shared_ptr<link::LinkRequest> pending_; // the record's request under way
    double progressValue_ = 0;
    double progressMax_ = 1;
    QList<PlannedCategory> plan_;
    qsizetype categoryAt_ = 0;  // in plan_
    qsizetype recordAt_ = 0;    // in that category's records
    bool categoryOpen_ = false; // its start has been announced

    JobRequest request_;
    QByteArray address_; // two digits
    Counts counts_;
    JobOutcome outcome_ = JobOutcome::None;
    QString error_;
    QList<RecordDifference> differences_;
    const JobLog* log_ = nullptr;
    QByteArray startedAt_;
    QByteArray endedAt_;           // when the running job stopped, before any message about it
    QByteArray reply_;             // the data of the last reply accepted
    bool heardController_ = false; // a reply was accepted in this job
    bool blnJobActive = false;
    bool asking_ = false; // a question before the start waits for its answer
    Direction intDirection = Direction::Save;
    QString strDataFile;
    // Held from the start of a job to its end.
    std::unique_ptr<BackupLock> lock_;
    std::unique_ptr<SaveJournal> journal_; // a Save's records on their way into the files
    QString workingFile_;                  // a Save's own main file, in its workspace
    bool headWritten_ = false;
    std::optional<Manifest> replaced_;   // the complete backup a Save replaces
    QString keptInFile_;                 // where a stopped Save's records are kept
    QString keptIn_;                     // the same, said in full
    QList<int> untouchedCards_;          // a Load's card slots without a card in the backup
    QList<QByteArray> unsendable_;       // a Save's keys whose values a restore cannot send
    std::optional<JobRequest> thenLoad_; // the restore that follows this Save
    QString backedUpFirst_;              // a restore's backup of the controller before it
    // A Load's or a Verify's backup, read once at the start: for each file
    // of the set, its Data keys (upper case) and their values as stored.
    std::map<QString, QMap<QByteArray, QByteArray>> stored_;
    QByteArray storedValue(const QString& file, const QByteArray& key) const;
};

} // namespace kt::engine
