// kt560ax status and history: what the files, the job log and the history
// say of a fleet's controllers.
#pragma once

#include "options.h"

namespace kt::cli {

// One line per controller; exit 0 when every controller is fresh and its
// last job finished, else 4.
int runStatus(const CliOptions& options);

// The versions of one controller, or with --export one version's file set.
int runHistory(const CliOptions& options);

} // namespace kt::cli
