// The fleets that status and report read: those of fleet files, or with
// --remote the fleet of each branch of a remote, from the state its runs
// commit.
#pragma once

#include "fleet/fleet_state.h"
#include "options.h"

#include <optional>

namespace kt::cli {

// The fleets the options name, with their states. A remote URL is fetched
// first into the user's cache, in a program of its own ended after
// --fetch-timeout; a folder is read where it is. A fleet whose state cannot
// be read is said, and leaves its controllers unknown; nothing, after
// saying why, when the fleets cannot be had.
std::optional<QList<fleet::LoadedFleet>> fleetsOf(const CliOptions& options);

// The program that fetches --remote URL into its cache for its parent:
// kDone, or kFileError after saying why.
int runFetch(const CliOptions& options);

} // namespace kt::cli
