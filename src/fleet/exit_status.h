// The exit status of kt560ax, for schedulers and scripts, and as a fleet
// reads it of each job it runs.
#pragma once

#include <iterator>

namespace kt {

enum ExitStatus {
    kDone = 0,        // the job did all it was asked
    kUsage = 1,       // the command line is wrong
    kFileError = 2,   // a backup or fleet file cannot be read or written
    kCommError = 3,   // the controller stopped answering, or the line went away
    kDifferences = 4, // verify or diff found differences
    kInterrupted = 5, // stopped by SIGINT or SIGTERM
    kPortError = 6,   // the port cannot be opened
};

// How severe a status is, least first: a run that was interrupted, or a
// command line that is wrong, says more than a file error, which holds for
// every controller, than a port or a controller that failed, than
// differences found.
inline int severity(int status) {
    constexpr int order[] = {kDone,      kDifferences, kCommError,  kPortError,
                             kFileError, kUsage,       kInterrupted};
    for (int i = 0; i < int(std::size(order)); ++i)
        if (order[i] == status)
            return i;
    return int(std::size(order)); // an unknown status: the most severe
}

// The more severe of two statuses, as a fleet reports the worst of its jobs.
inline int worse(int a, int b) {
    return severity(b) > severity(a) ? b : a;
}

} // namespace kt
