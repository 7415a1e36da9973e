// The job log: one JSON line per job, from the window and the command line
// alike, appended to jobs.log in the user's state folder.
#pragma once

#include "job_request.h"
#include "shell/result.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace kt::engine {

// One job as the log keeps it.
struct JobEntry {
    QByteArray start{}; // ISO 8601 local time with offset
    QByteArray end{};   // the same; empty: it ends as it is appended
    Direction direction = Direction::Save;
    QString port{}; // as chosen, with its line: "COM1 (/dev/ttyUSB0)", "tcp://gw:4001"
    int address = 1;
    QString file{}; // logged with its full path
    QList<const Category*> categories{};
    int cards = 0;
    int records = 0;
    int emptyCardSlots = 0; // card slots of a Save that held no card
    int failedTries = 0;
    JobOutcome outcome = JobOutcome::None;
    QString error{};                  // why it failed, in the system's words; empty: nothing to add
    std::optional<int> differences{}; // a verify's
};

// The entry of `request` begun now, with `outcome`.
JobEntry entryOf(const JobRequest& request, JobOutcome outcome);

class JobLog {
  public:
    // Past this size the log moves to jobs.log.1 (replacing an older one)
    // and a new log begins, so the log never grows without bound.
    static constexpr qint64 kRotateBytes = 4 * 1024 * 1024;
    // An error text longer than this is cut: a line stays short.
    static constexpr qsizetype kMaxErrorChars = 500;

    // $XDG_STATE_HOME/kt560ax/jobs.log, by default
    // ~/.local/state/kt560ax/jobs.log; on Windows in the AppData folder.
    static QString defaultPath();

    explicit JobLog(QString path = defaultPath()) : path_(std::move(path)) {}
    const QString& path() const { return path_; }

    // Appends one line; an Unwritable error says why it cannot be written.
    // A new log is readable and writable by its owner only.
    shell::Status append(const JobEntry& entry) const;
    // Appends a line of something other than a job, such as a fleet's push:
    // `what` stands where a job's direction stands.
    shell::Status appendEvent(const char* what, const QString& subject,
                              const QString& outcome) const;
    // The last `count` entries, by their start time, the earliest first;
    // lines that do not parse are left out. Read from the end, so a long
    // log costs no more than the lines asked for.
    QList<QJsonObject> last(int count) const;

  private:
    shell::Status appendLine(const QJsonObject& line) const;

    QString path_;
};

} // namespace kt::engine
