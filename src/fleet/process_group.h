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
// How a child ends with this program: stopped as on SIGTERM (a job keeps
// what it read and logs its end), or killed (a push blocked in the network).
enum class ParentGone { Stop, Kill };

// Makes `process`, when it starts, end when this program ends, however it
// ends (a SIGKILL too), so that nothing it was to do outlives the one that
// waits for it: a job of a killed run must not hold its port, nor a push
// run on. On Windows the child is in a job object that ends with this
// program, ended as killed.
void endWithThisProgram(QProcess& process, ParentGone how);

} // namespace kt::fleet
