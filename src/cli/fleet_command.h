// kt560ax run FLEET.ini: a backup of every controller of a fleet, those on
// different ports at the same time, those on one port one after another;
// then the history, the state, the pages, the hooks and the push.
#pragma once

#include "fleet/report_page.h"
#include "options.h"

namespace kt::cli {

// The report page's language: the texts of Language.ini's chosen language.
fleet::PageLanguage pageLanguage(const CliOptions& options, const QString& iniFile);

int runFleet(const CliOptions& options, const QString& iniFile);

} // namespace kt::cli
