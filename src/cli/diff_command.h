// kt560ax diff and kt560ax log: commands that read files only.
#pragma once

#include "options.h"

namespace kt::cli {

// Compares two backups record by record, naming the categories in the
// language of `iniFile`; 0 when equal, 4 when not.
int runDiff(const CliOptions& options, const QString& iniFile);

// Prints the last jobs of the job log as a table.
int runLog(const CliOptions& options);

} // namespace kt::cli
