// A child program in a group of its own (a process group, or a job object
// on Windows), so that ending it at a time limit ends whatever it started
// too.
#pragma once

#include <QProcess>

namespace kt::fleet {

// Makes `process`, when it starts, the leader of a new process group.
void leadOwnGroup(QProcess& process);
// Kills the whole group that `process` leads.
void killGroup(QProcess& process);
// Makes `process`, when it starts, end when this process ends, however it
// ends (a SIGKILL too), so that nothing it was to do outlives the one that
// waits for it. Call it after leadOwnGroup().
void endWithThisProcess(QProcess& process);

} // namespace kt::fleet
