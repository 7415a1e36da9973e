#include "process_group.h"

#include <csignal>
#include <functional>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace kt::fleet {

void leadOwnGroup(QProcess& process) {
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void killGroup(QProcess& process) {
    if (const qint64 pid = process.processId(); pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    process.kill();
}

void endWithThisProgram(QProcess& process, ParentGone how) {
#ifdef __linux__
    // Made here, so that the child, between fork and exec, allocates nothing.
    const std::function<void()> before = process.childProcessModifier();
    const pid_t parent = ::getpid();
    const int signal = how == ParentGone::Kill ? SIGKILL : SIGTERM;
    process.setChildProcessModifier([before, parent, signal] {
        if (before)
            before();
        ::prctl(PR_SET_PDEATHSIG, signal);
        // A parent that ended before the line above is not told of.
        if (::getppid() != parent)
            ::_exit(127);
    });
#else
    (void)process;
    (void)how;
#endif
}

} // namespace kt::fleet
