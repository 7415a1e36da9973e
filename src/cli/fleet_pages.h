// What a fleet shows to people and to monitoring: the report page and the
// metrics file, each replaced whole, so that a web server or a collector
// never reads half of one.
#pragma once

#include "fleet/fleet_file.h"
#include "fleet/fleet_runner.h"
#include "options.h"

namespace kt::cli {

// kt560ax report FLEET.ini -o PAGE.
int runReport(const CliOptions& options, const QString& iniFile);

// Writes the report page of `fleet` into `page`; false after saying why.
bool writeReport(const fleet::Fleet& fleet, const QString& page, const CliOptions& options,
                 const QString& iniFile);

// Writes the metrics of a run into `file`; false after saying why.
bool writeMetrics(const fleet::Fleet& fleet, const QList<fleet::ControllerRun>& runs, int changed,
                  int failed, const QString& file);

} // namespace kt::cli
