// The metrics of a fleet in the text format of node_exporter's textfile
// collector, for the monitoring that sites already run: each controller's
// state and its last job, from the fleet's state.
#pragma once

#include "fleet_state.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

namespace kt::fleet {

// One gauge per value, labelled by controller; a state and an outcome
// gauge with the identifiers of the state model; then the run's own. Every
// series carries the label fleet="`fleet`" (the fleet file's name without
// its suffix), so that the files of several fleets share one textfile
// folder. A time ahead of `now` is never given, and card figures only for
// controllers whose backups read cards.
QByteArray metricsText(const QString& fleet, const QList<ControllerView>& controllers,
                       const FleetState& state, const QDateTime& now);

} // namespace kt::fleet
