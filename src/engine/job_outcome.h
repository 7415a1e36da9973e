// How a job ended, or why it did not start, in one vocabulary for every
// place that tells it: the job log, the command line, a fleet's state, its
// report, metrics and hooks, and the window.
#pragma once

#include <QString>
#include <optional>

namespace kt::engine {

enum class JobOutcome {
    None,            // no job yet, or one still running
    Finished,        // every record transferred
    Cancelled,       // stopped by the user or a signal
    NoAnswer,        // the controller does not answer
    Garbled,         // replies came but none could be accepted
    PortLost,        // the port went away during the job
    ServerClosed,    // the device server refused or closed the connection
    PortUnavailable, // the port cannot be opened: nothing started
    FileError,       // the backup file could not be read or written
    NothingChosen,   // no category chosen: nothing started
    Declined,        // a Load whose question was answered with Cancel
    Differences,     // a Verify that found records that differ
};

// The words of an outcome: a stable English identifier (JSON, metrics, the
// job log), a short English name (tables) and the Language.ini key of the
// name.
struct OutcomeWords {
    JobOutcome outcome;
    const char* id;
    const char* name;
    const char* nameKey;
};

const OutcomeWords& wordsOf(JobOutcome outcome);
// The outcome an identifier names; the job log's older words are read too.
std::optional<JobOutcome> outcomeFromId(const QString& id);

// The identifier, as the job log and --json name it.
inline const char* outcomeName(JobOutcome outcome) {
    return wordsOf(outcome).id;
}

// A failure of the line or the controller: worth another try later.
bool isLineFailure(JobOutcome outcome);

} // namespace kt::engine
