// A controller's failure in the words of its fleet file: the file, the
// section and the key to look at, what the system said, and what to check.
// The window's advice names its own controls (the Controller ID, COMn in
// Language.ini); a fleet's port and address come from its fleet file.
#pragma once

#include "engine/job_outcome.h"
#include "fleet_file.h"

#include <QJsonObject>
#include <QString>

namespace kt::fleet {

// The error of a try of `controller` that ended with `outcome`, from its
// job's --json summary and the error the job gave. A port that could not be
// opened or dropped, or a controller that never answered:
// "site.ini [door-3] Port=tcp://10.0.0.7:4001: Connection refused — check
// that the device server is on and that Port= names it". Any other error
// as it was.
QString fleetError(const Fleet& fleet, const FleetController& controller,
                   engine::JobOutcome outcome, const QJsonObject& summary, const QString& error);

// What to check in the fleet file when several controllers at one place
// failed alike; empty when there is nothing the outcome alone points at.
QString fleetCheck(engine::JobOutcome outcome);

} // namespace kt::fleet
