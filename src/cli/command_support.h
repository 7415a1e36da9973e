// What the commands share: the language texts, the port, and the outcome
// of a job as an exit status.
#pragma once

#include "engine/transfer_job.h"
#include "link/line_port.h"
#include "options.h"

namespace kt::cli {

// The language section that Language.ini chooses.
QByteArray languageOf(const CliOptions& options);

// Opens the port of the options; on failure says why on standard error.
bool openPort(const CliOptions& options, link::LinePort& port);

int exitStatusOf(engine::JobOutcome outcome);

// Prints a message to standard error, after the program's name, with its
// control characters (but line breaks) by name.
void complain(const QString& text);

} // namespace kt::cli
