// kt560ax jobs: the process a fleet's run hands its saves to, many side by
// side, one event loop for all. Each line on standard input is a job,
//   {"job": ID, "arguments": ["save", FILE, "--port", ...]}
// or {"stop": true}, which cancels every job and takes no more. For each
// job one line comes on standard output once its port is let go,
//   {"job": ID, "status": EXIT, "summary": {...}, "errors": "..."}
// with what its own process would have exited with, printed with --json
// and said on standard error. The program ends when its input has and its
// jobs are over, or after a stop once they are; a signal stops it too.
#pragma once

#include "options.h"

namespace kt::cli {

int runJobs(const QString& iniFile);

} // namespace kt::cli
