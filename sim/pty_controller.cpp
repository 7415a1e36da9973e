#include "pty_controller.h"

#include "shell/ini_file.h"
#include "shell/settings.h"

namespace kt::sim {

PtyController::PtyController(int cards, QList<int> addresses)
    : controller(store, std::move(addresses)) {
    if (cards > 0)
        store.seed(cards);
    line = LineEndpoint::createPty(controller, &error);
}

bool PtyController::mapPort(const QString& iniFile, int port) const {
    return line && shell::WriteIni(iniFile, shell::kCommSection, "COM" + QByteArray::number(port),
                                   line->devicePath().toUtf8());
}

} // namespace kt::sim
