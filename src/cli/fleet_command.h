// kt560ax run FLEET.ini: a backup of every controller of a fleet, those on
// different ports at the same time, those on one port one after another.
#pragma once

#include "options.h"

namespace kt::cli {

int runFleet(const CliOptions& options, const QString& iniFile);

} // namespace kt::cli
