// Opens the window's port from its menu, as an operator does, and waits for
// the open to end: true once the port is open.
#pragma once

#include "ui/frm_kt550ax.h"
#include "wait_for.h"

#include <QAction>

namespace kt::test {

inline bool openWindowPort(ui::frmKT550AX& window) {
    window.findChild<QAction*>(QStringLiteral("mnuCommPortActive"))->trigger();
    waitFor([&] { return !window.isPortOpening(); }, 15000);
    return window.isPortOpen();
}

} // namespace kt::test
