// kt560ax save and load: one job against one controller.
#pragma once

#include "engine/record_compare.h"
#include "options.h"

#include <QJsonArray>

namespace kt::cli {

// Runs the job the options ask for; returns the exit status.
// save, load and verify.
int runTransfer(const CliOptions& options, const QString& iniFile);

// Differences as JSON, the two values named `before` and `after`.
QJsonArray differencesJson(const QList<engine::RecordDifference>& differences, const char* before,
                           const char* after);

} // namespace kt::cli
