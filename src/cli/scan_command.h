// kt560ax scan: which controller addresses answer on a port.
#pragma once

#include "options.h"

namespace kt::cli {

// Reads record DC once at each address, with a short time-out and no
// retry, and lists the addresses that answer. Writes nothing.
int runScan(const CliOptions& options, const QString& iniFile);

} // namespace kt::cli
