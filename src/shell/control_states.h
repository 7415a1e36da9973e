// Which controls the port state and a running job enable and disable, by
// object name. The window applies these tables.
#pragma once

#include <QStringList>
#include <Qt>

namespace kt::shell {

// Enabled exactly while the port is open (mnuCommPort takes the inverse).
const QStringList& portControls();
inline constexpr char kPortMenu[] = "mnuCommPort";

// Disabled while a job runs.
const QStringList& jobControls();

// The controls of the settings panel: disabled while a job runs.
const QStringList& settingControls();

// The nine category check boxes, in the order a job visits them.
const QStringList& categoryCheckBoxes();

// Check box values of the design: 0 unticked, 1 ticked, 2 grayed. Qt orders
// them differently (PartiallyChecked is 1, Checked is 2).
int checkValue(Qt::CheckState state);
Qt::CheckState checkStateOf(int value);

} // namespace kt::shell
