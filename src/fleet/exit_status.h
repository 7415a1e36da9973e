// The exit status of kt560ax, for schedulers and scripts, and as a fleet
// reads it of each job it runs.
#pragma once

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

// The worse of two statuses, as a fleet reports the worst of its jobs.
inline int worse(int a, int b) {
    return a > b ? a : b;
}

} // namespace kt
