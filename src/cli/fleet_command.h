// kt560ax run FLEET.ini: a backup of every controller of a fleet, those on
// different ports at the same time, those on one port one after another;
// then the history, the hooks and the summary.
#pragma once

#include "fleet/fleet_file.h"
#include "options.h"
#include "shell/result.h"

namespace kt::cli {

// Far more than a fleet of hundreds of controllers needs.
inline constexpr qint64 kMaxFleetBytes = 1024 * 1024;

// The fleet file, read and checked; the error lists every mistake, each
// naming its line.
shell::Result<fleet::Fleet> readFleet(const QString& fleetFile);

int runFleet(const CliOptions& options, const QString& iniFile);

} // namespace kt::cli
