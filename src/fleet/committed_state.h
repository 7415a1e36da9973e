// The fleet's state as each run commits it beside the versions, so that
// whoever reads the remote learns what `status` says of every gateway's
// fleet: each controller's outcomes, times, counts and errors, the fleet's
// MaxAge and the name of the computer that runs it. It holds no record, no
// credential and no remote's user information, and is never encrypted.
#pragma once

#include "fleet_file.h"
#include "fleet_state.h"
#include "shell/result.h"

#include <QByteArray>
#include <QString>

namespace kt::fleet {

// Its file in the history's top folder: a name no controller's folder can
// have, since a controller's name begins with a letter, digit or '_'.
inline constexpr char kCommittedStateFile[] = ".fleet-state.json";

// A committed state larger than this is not read: far more than thousands
// of controllers.
inline constexpr qint64 kMaxCommittedStateBytes = 64LL * 1024 * 1024;

// The text committed for `fleet`, run on `gateway`, after a run that
// recorded `state`. Every text that could quote an address (errors, ports)
// has the user information of its URLs and the fleet's remote's
// credentials taken out; the state of the pushes is left to the remote.
QByteArray committedStateText(const Fleet& fleet, const FleetState& state, const QString& gateway);

// The fleet that such a text tells, named `branch`: its controllers (with
// their ports), its MaxAge, its gateway and its state. An error that names
// `where` when the text is not such a state.
shell::Result<LoadedFleet> committedStateOf(const QByteArray& text, const QString& branch,
                                            const QString& where);

} // namespace kt::fleet
