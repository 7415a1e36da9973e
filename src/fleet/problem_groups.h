// The controllers that need someone, grouped by what went wrong and where
// they hang: a device server, a serial device (and the bus on it), the
// folder their backups go to. One cause reads as one line however many
// controllers it stopped. A run, status, the report page and the hooks all
// group with this, so that all say the same.
#pragma once

#include "engine/job_outcome.h"
#include "fleet_state.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kt::fleet {

struct RunResult;

// One controller that needs someone.
struct Problem {
    QString name; // as the surface names the controller
    ControllerState state = ControllerState::Failing;
    engine::JobOutcome outcome = engine::JobOutcome::None; // of its last try, when failing
    QString port;                                          // as its fleet file names it
    QString folder;                                        // its backups' folder
    QString line;                                          // its own line, told alone
};

struct ProblemGroup {
    ControllerState state = ControllerState::Failing;
    engine::JobOutcome outcome = engine::JobOutcome::None; // of a failing group
    QString what;        // "server refused", "suspicious", "stale"...
    QString where;       // "tcp://10.0.0.7", "/dev/ttyUSB0"; empty: no one place
    QStringList members; // their names
    QString line;        // of a group of one: its member's own line
    QString check;       // of a group of several: what to check; may be empty
};

// How many members a group's line names; the rest are counted.
inline constexpr int kListedMembers = 20;

// The groups of two or more first (the most severe state first, then the
// largest), then each controller that stands alone (by state, then name).
// Two controllers group when they are in one state (failing: with one
// outcome) at one place; a failure of the line is placed by its port (a
// server by its host, a device by its resolved path), a file error by the
// folder, anything else nowhere.
QList<ProblemGroup> groupProblems(const QList<Problem>& problems);

// "server refused: tcp://10.0.0.7 (40 controllers: door-1, ..., door-20 …
// and 20 more) — check that ...", or the one member's own line.
QString problemLine(const ProblemGroup& group);
QStringList problemLines(const QList<ProblemGroup>& groups);

// A failed controller's line: "dead: port unavailable after 3 tries: why".
QString failureText(const QString& name, engine::JobOutcome outcome, int tries,
                    const QString& error);

// A controller that needs someone as status and the report see it, named
// `name`: its line tells its outcome and error, why it is suspicious, or
// how old its backup is.
Problem problemOf(const ControllerView& view, const QString& name);
// The controllers of `views` that need someone, named with their fleet
// when `severalFleets`, grouped.
QList<ProblemGroup> problemGroupsOf(const QList<ControllerView>& views, bool severalFleets);
// The controllers of a run that failed or whose backup is suspicious.
QList<Problem> problemsOf(const RunResult& result);

// Names in the order people count: "door-2" before "door-10".
bool namedBefore(const QString& a, const QString& b);

} // namespace kt::fleet
