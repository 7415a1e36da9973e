#include "process_group.h"

#include <csignal>
#include <unistd.h>

namespace kt::fleet {

void leadOwnGroup(QProcess& process) {
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void killGroup(QProcess& process) {
    if (const qint64 pid = process.processId(); pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    process.kill();
}

} // namespace kt::fleet
