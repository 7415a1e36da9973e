// The processes a run's jobs run in. Saves share job processes
// (`program jobs`), up to a number of jobs each, handed to them and
// answered line by line: one event loop for many controllers wakes far
// less often than a process for each. When a job process fails, each job
// it still had is tried again at once in a process of its own, so that
// only a job that fails alone fails. Any other command runs in a process of
// its own, `program COMMAND ...`, as does every job at one job a process.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <list>
#include <map>
#include <memory>

class QProcess;

namespace kt::fleet {

class JobProcesses : public QObject {
    Q_OBJECT
  public:
    // How a job ended: the status its own process would have exited with
    // (kInterrupted when it was killed), what it printed on standard output
    // (its --json summary) and what it said on standard error.
    using Ended =
        std::function<void(int status, const QByteArray& output, const QByteArray& errors)>;

    // What a job said on standard error, of which as much is kept (the end).
    static constexpr qsizetype kMaxErrorOutput = 16 * 1024;
    // Adds `more` to `kept`, keeping the last kMaxErrorOutput bytes.
    static void keepEnd(QByteArray& kept, const QByteArray& more);
    // A line from a job process longer than this is not read: the process is
    // ended, and its jobs with it.
    static constexpr qsizetype kMaxLine = 256 * 1024;
    // How long a shared process with no job may take to end with its input.
    static constexpr int kIdleEndMs = 5000;
    // The longest job line a job process takes; a longer job ends at once.
    static constexpr qsizetype kMaxJobLine = 64 * 1024;

    // `perProcess` saves to a shared process; 1: each its own process.
    JobProcesses(QString program, int perProcess);
    // Kills what still runs.
    ~JobProcesses() override;

    // Starts job `id` (not one that runs), `arguments` beginning with its
    // command. `ended` is called once, from the event loop.
    void start(int id, const QStringList& arguments, Ended ended);
    // Asks every job to stop as on SIGTERM; their ends follow. No job is
    // tried again after it.
    void stop();
    // Kills every process that has not ended; their jobs end as killed,
    // none tried again.
    void kill();
    // No more jobs come: shared processes end once theirs have.
    void close();

  private:
    struct Own;
    struct Handed;
    struct Shared;
    enum class Retry { No, Alone };
    void startOwn(int id, const QStringList& arguments, Ended ended);
    Shared& sharedWithRoom();
    // Ends the jobs whose lines have come; false when what came ended the
    // process (and `shared` is gone).
    bool readLines(Shared& shared);
    // A shared process has ended, or is ended for what it said: the jobs it
    // still had end with `status`, and `why` as their last error; with
    // Retry::Alone, unless stopped, each is tried again in its own process,
    // and `why` comes before what that one says.
    void sharedGone(Shared& shared, int status, const QString& why, Retry retry);

    QString program_;
    int perProcess_;
    std::list<Own> own_;
    std::list<Shared> shared_;
    bool stopped_ = false; // stopped or killed: nothing is tried again
};

} // namespace kt::fleet
