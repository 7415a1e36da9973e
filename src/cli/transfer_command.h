// kt560ax save and load: one job against one controller.
#pragma once

#include "options.h"

namespace kt::cli {

// Runs the job the options ask for; returns the exit status.
int runTransfer(const CliOptions& options, const QString& iniFile);

} // namespace kt::cli
