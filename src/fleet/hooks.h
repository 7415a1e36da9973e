// A hook: a program the fleet file names, run without a shell, with the
// details of the run in environment variables and a time limit. Each line
// it prints is handed on, never mixed into the program's own output.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

namespace kt::fleet {

inline constexpr int kHookSeconds = 60;

struct HookRun {
    bool ok = false;
    QString problem; // when not ok: why, for the summary
};

// Runs `command` (a program and its arguments) with `variables` added to
// the environment; kills it after `seconds`, or as soon as `stopped` says
// so. Each line it prints goes to `output`.
HookRun runHook(const QStringList& command, const QList<std::pair<QString, QString>>& variables,
                const std::function<void(const QString&)>& output, int seconds = kHookSeconds,
                const std::function<bool()>& stopped = {});

} // namespace kt::fleet
