#include "control_states.h"

#include <QObject>
#include <QVariant>

namespace kt::ui {

bool controlEnabled(unsigned needs, const WindowState& state) {
    return (!(needs & kOpenPort) || state.portOpen) &&
           (!(needs & kClosedPort) || !state.portOpen) &&
           (!(needs & kNoJob) || !state.jobRunning) &&
           (!(needs & kPanelClosed) || !state.panelOpen);
}

void applyControlRules(const QList<ControlRule>& rules, const WindowState& state) {
    for (const ControlRule& rule : rules)
        rule.control->setProperty("enabled", controlEnabled(rule.needs, state));
}

int checkValue(Qt::CheckState state) {
    switch (state) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

} // namespace kt::ui
