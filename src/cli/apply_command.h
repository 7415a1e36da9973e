// kt560ax apply FLEET.ini LIST.KT: the records of one backup written into
// the fleet's controllers, only where they differ, each controller read
// first and kept as it was; and the job each controller's process runs.
#pragma once

#include "options.h"

namespace kt::cli {

int runApply(const CliOptions& options, const QString& iniFile);

// One controller: apply-controller BEFORE.KT LIST.KT reads the controller
// into BEFORE.KT, then (with --yes) writes the list's records that differ
// and reads them back; prints its summary as JSON.
int runApplyController(const CliOptions& options, const QString& iniFile);

} // namespace kt::cli
