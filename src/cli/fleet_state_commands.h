// kt560ax status, history and accept: what a fleet's state and its history
// say of its controllers, and a collapse accepted as intended.
#pragma once

#include "fleet/fleet_state.h"
#include "options.h"

#include <optional>

namespace kt::cli {

// The fleet files with their states; nothing after saying what is wrong.
// A state that cannot be read is said too, and leaves its controllers
// unknown.
std::optional<QList<fleet::LoadedFleet>> loadFleets(const QStringList& files);

// One line per controller of one or more fleets; exit 0 when every
// controller is fresh and its last try finished, else 4.
int runStatus(const CliOptions& options);

// The versions of one controller, or with --export one version's file set.
int runHistory(const CliOptions& options);

// Records that a suspicious controller's last complete backup is what was
// meant (a reset on purpose): it becomes the controller's last good backup.
int runAccept(const CliOptions& options);

// Pushes a fleet's history to its remote.
int runPush(const CliOptions& options);

} // namespace kt::cli
