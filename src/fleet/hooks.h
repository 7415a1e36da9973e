// A hook: a program the fleet file names, run without a shell, with the
// details of the run in environment variables and a time limit. Each line
// it prints is handed on, never mixed into the program's own output.
#pragma once

#include "shell/result.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <functional>
#include <memory>
#include <utility>

namespace kt::fleet {

inline constexpr int kHookSeconds = 60;

using Variables = QList<std::pair<QString, QString>>;

// One controller in a hook's details.
struct HookEntry {
    QString controller, port, address, file, outcome, error;
};

// A hook's variables: KT560AX_CONTROLLER, _PORT, _ADDRESS, _FILE and _ERROR
// with a line per entry, then `common`, each bounded so that the hook can
// always start; and KT560AX_LIST, a private file that holds every entry
// whole, one line each (tab-separated: controller, port, address, file,
// outcome, error), removed when the details go.
struct HookDetails {
    Variables variables;
    std::unique_ptr<QTemporaryFile> list;
};
HookDetails hookDetails(const QList<HookEntry>& entries, const Variables& common);

// Runs `command` (a program and its arguments) with `variables` added to
// the environment; kills it and all it started after `seconds`, or as soon
// as `stopped` says so. Each line it prints goes to `output`. An error says
// why it failed, for the summary.
shell::Status runHook(const QStringList& command, const Variables& variables,
                      const std::function<void(const QString&)>& output, int seconds = kHookSeconds,
                      const std::function<bool()>& stopped = {});

} // namespace kt::fleet
