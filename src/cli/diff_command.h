// kt560ax diff and kt560ax log: commands that read files only.
#pragma once

#include "engine/record_compare.h"
#include "options.h"

namespace kt::cli {

// Compares two backups record by record, naming the categories in the
// language of `iniFile`; 0 when equal, 4 when not.
int runDiff(const CliOptions& options, const QString& iniFile);

// Each value of `differences` replaced by a fingerprint keyed with a
// secret of this call: equal values match within one list, yet the list
// tells no value.
void maskValues(QList<engine::RecordDifference>& differences);

// Prints the last jobs of the job log as a table.
int runLog(const CliOptions& options);

} // namespace kt::cli
