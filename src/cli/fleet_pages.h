// kt560ax report: the report page of one or more fleets, replaced whole so
// that a web server never reads half of one.
#pragma once

#include "options.h"

namespace kt::cli {

// kt560ax report FLEET.ini... -o PAGE.
int runReport(const CliOptions& options, const QString& iniFile);

} // namespace kt::cli
