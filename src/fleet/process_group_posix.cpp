#include "process_group.h"

#include <csignal>
#include <sys/prctl.h>
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

void endWithThisProgram(QProcess& process) {
    const std::function<void()> before = process.childProcessModifier();
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec, where the parent's signal
    // handlers still stand. A parent that died before the request was made
    // has left the child to another one: it ends at once.
    process.setChildProcessModifier([before, parent] {
        if (before)
            before();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::raise(SIGKILL);
    });
}

} // namespace kt::fleet
