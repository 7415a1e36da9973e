// A child program in a group of its own (a process group, or a job object
// on Windows), so that ending it at a time limit ends whatever it started
// too; and a child that ends when this program ends, however it ends.
#pragma once

#include <QProcess>

namespace kt::fleet {

// Makes `process`, when it starts, the leader of a new process group.
void leadOwnGroup(QProcess& process);
// Kills the whole group that `process` leads.
void killGroup(QProcess& process);

// Makes `process` end when this program ends, also when it is killed: a
// job of a run that was killed must not run on and hold its port. On Linux
// the child is sent SIGTERM, which a job ends on as it does on a stop.
void endWithThisProgram(QProcess& process);

} // namespace kt::fleet
