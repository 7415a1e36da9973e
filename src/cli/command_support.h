// What the commands share: the language texts, the port, and the outcome
// of a job as an exit status.
#pragma once

#include "engine/transfer_job.h"
#include "fleet/fleet_file.h"
#include "fleet/git_process.h"
#include "link/line_port.h"
#include "options.h"

#include <QJsonObject>
#include <optional>

namespace kt::cli {

// The language section that Language.ini chooses.
QByteArray languageOf(const CliOptions& options);

class SignalWatch;

// Opens the port of the options in the program's event loop, until it is
// open, cannot be, or a stop signal comes; on failure says why on standard
// error (but for a stop).
bool openPort(const CliOptions& options, link::LinePort& port, link::Clock& clock,
              const SignalWatch& watch);

int exitStatusOf(engine::JobOutcome outcome);

// Adds to a job's --json summary what kind of failure the open of `port`
// was (portProblem), the device or server, the system's reason, and
// portBusy when another program holds it, which is worth a try again soon.
void addPortProblem(QJsonObject& summary, const link::SerialPort& port);

// The controllers of --controllers, of the fleet read from `fleetFile`;
// nothing after saying each name that names none of its controllers.
std::optional<fleet::Fleet> chooseControllers(const fleet::Fleet& fleet, const QString& fleetFile,
                                              const QStringList& names);

// Runs a push or a fetch in its own program to its end, or until SIGINT or
// SIGTERM stops it: kDone, else kInterrupted or kFileError after saying why.
int awaitGitProcess(fleet::GitProcess& process);

// A message as the program says it: after its name, with its control
// characters (but line breaks) by name.
QString complaintText(const QString& text);
// Prints complaintText(text) to standard error.
void complain(const QString& text);

} // namespace kt::cli
