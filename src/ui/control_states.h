// When each control of the main window may be used: a table of rules by
// pointer, which the window applies whenever the port opens or closes, a
// job starts or ends, or the settings panel opens or closes.
#pragma once

#include <QList>
#include <Qt>

class QObject;

namespace kt::ui {

// What a control needs to be enabled; 0 means always.
enum ControlNeed : unsigned {
    kOpenPort = 1,    // the port is open
    kClosedPort = 2,  // the port is closed (choosing a port)
    kNoJob = 4,       // no job runs
    kPanelClosed = 8, // the settings panel is closed (the item that opens it)
};

struct WindowState {
    bool portOpen = false;
    bool jobRunning = false;
    bool panelOpen = false;
};

struct ControlRule {
    QObject* control; // a widget or an action
    unsigned needs;
};

bool controlEnabled(unsigned needs, const WindowState& state);

// Sets the Enabled state of every control of the rules.
void applyControlRules(const QList<ControlRule>& rules, const WindowState& state);

// The window's check box values: 0 unticked, 1 ticked, 2 grayed. Qt orders
// them differently (PartiallyChecked is 1, Checked is 2).
int checkValue(Qt::CheckState state);

} // namespace kt::ui
