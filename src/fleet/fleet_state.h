// A fleet's state: for each controller, what its runs found (its last try
// and how it ended, its failures, its last complete backup and its last
// good one, its recent runs), kept in a file beside the fleet file so that
// every account and every surface that reads the fleet gives the same
// answer. And the one state model that turns such a record into fine,
// changed, stale, suspicious, failing, never backed up or unknown.
#pragma once

#include "collapse.h"
#include "engine/job_outcome.h"
#include "fleet_file.h"
#include "shell/result.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <map>
#include <optional>

class QLockFile;

namespace kt::fleet {

// A run's outcome for one controller, kept for the strip of recent runs.
struct RecentRun {
    QDateTime at;
    engine::JobOutcome outcome = engine::JobOutcome::None;
    bool changed = false;
};

// What the runs have recorded of one controller.
struct ControllerRecord {
    QString port;                                          // as the last run used it
    QDateTime lastTry;                                     // the start of its last try
    engine::JobOutcome outcome = engine::JobOutcome::None; // of its last try
    QString error;           // why the last try failed; empty when it did not
    int tries = 0;           // in the last run that tried it
    int failures = 0;        // failed tries since its last success
    int failedTries = 0;     // requests of its last job that had to be sent again
    double seconds = 0;      // of its last job
    int jobRecords = 0;      // records stored by its last job
    bool readsCards = false; // its backups read user cards

    QString lastComplete; // the main file of its last complete backup; empty: none
    QDateTime lastCompleteAt;
    int cards = 0; // card slots that hold a card in that backup
    int records = 0;

    // Its newest complete backup that was not suspicious, or was accepted.
    // A state written before it was kept has none: then the last complete
    // backup counts as the good one.
    GoodBackup lastGood;
    bool suspicious = false; // its last complete backup collapsed against lastGood
    QStringList emptied;     // the categories that came back empty in it

    bool changed = false; // its last run's backup changed records
    QString changes;      // how, in slots and categories; empty when not changed
    int cardsAdded = 0, cardsRemoved = 0, cardsChanged = 0;

    QList<RecentRun> recent; // its last runs, oldest first, at most kRecentRuns
};

inline constexpr int kRecentRuns = 10;

// The last apply of a list to one controller. Kept apart from its backups'
// record: an apply says nothing of whether the controller is backed up.
struct AppliedList {
    QDateTime at;   // when its job started
    QString list;   // the list's main file
    QString before; // the before-apply backup; empty when none was kept
    engine::JobOutcome outcome = engine::JobOutcome::None;
    QString error;     // why it did not finish
    int written = 0;   // records written
    QString cards;     // the card slots written, as slotList gives them
    QString cardsLeft; // the slots left as they are (a card there, none in the list)
    bool failed() const { return outcome != engine::JobOutcome::Finished; }
};

// An apply as the state file and status --json give it.
QJsonObject appliedJson(const AppliedList& applied);

struct FleetState {
    QDateTime lastRun; // when the newest run ended; invalid: never
    std::map<QString, ControllerRecord> controllers;
    std::map<QString, AppliedList> applies; // by controller; none in older files
    int pushFailures = 0;      // the last runs in a row whose push of the history failed
    QDateTime lastPushSuccess; // when a push of the history last went through; invalid: never
};

// The state file of a fleet file: beside it, its name with .state in place
// of the suffix (fleet.ini keeps fleet.state).
QString statePathOf(const QString& fleetFile);

// Reads a state file; with `of`, only the records of that fleet's
// controllers are kept. A missing file is an empty state; one that cannot
// be read or parsed is an error that names it.
shell::Result<FleetState> readFleetState(const QString& path, const Fleet* of = nullptr);
// A state's text as a file holds it, read as readFleetState reads a file;
// `path` names it in messages.
shell::Result<FleetState> parseFleetState(const QByteArray& text, const QString& path,
                                          const Fleet* of = nullptr);
// A state as the file holds it.
QJsonObject fleetStateJson(const FleetState& state);
// Writes it at once (a reader sees the old file or the new one), readable
// and writable by its owner only.
shell::Status writeFleetState(const QString& path, const FleetState& state);

// The lock a run and `accept` hold while they read, change and write a
// state file, so that neither undoes the other's records; and how long
// either waits for it.
QString stateLockPathOf(const QString& statePath);
inline constexpr int kStateLockWaitMs = 30000;
// Takes `lock` (made on stateLockPathOf), waiting kStateLockWaitMs for
// another holder. InUse when one held it all that time; else, when no lock
// file can be made there (a full disk, a folder not to be written), the
// system's reason.
shell::Status lockState(QLockFile& lock);

// The last good backup of a record: the one it names, else (a state written
// before they were named) its last complete backup, counted from its files;
// none for a controller that has no complete backup.
std::optional<GoodBackup> lastGoodOf(const ControllerRecord& record);

// The record after its last complete backup was accepted as intended: that
// backup is the last good one, and nothing is suspicious any more.
void acceptLastComplete(ControllerRecord& record);

// Why a record's last complete backup is suspicious: "40 cards before, 0
// after; came back empty: SystemDatabase; last good backup 2026-12-06
// 02:30". Never a record's value.
QString suspicionText(const ControllerRecord& record);

// The state of a controller, in the order the report lists them.
enum class ControllerState { Failing, Suspicious, NeverBackedUp, Stale, Unknown, Changed, Fine };
inline constexpr int kControllerStates = 7;

// Its words: a stable English identifier, an English name, the
// Language.ini key of the name.
struct StateWords {
    const char* id;
    const char* name;
    const char* key;
};
const StateWords& wordsOf(ControllerState state);

// A backup time this far ahead of now is not trusted.
inline constexpr qint64 kClockToleranceSeconds = 300;

// One controller as every surface shows it.
struct ControllerView {
    QString fleet; // the fleet file's name, for a view of several fleets
    const FleetController* controller = nullptr;
    const ControllerRecord* record = nullptr; // null: nothing recorded
    ControllerState state = ControllerState::Unknown;
    bool clockAhead = false; // its last complete backup says it was made in the future
    qint64 ageSeconds = -1;  // of its last complete backup; -1: none to trust

    // Fresh, and its last try finished.
    bool fine() const {
        return state == ControllerState::Fine || state == ControllerState::Changed;
    }
};

// The state of `record` (null: nothing recorded). Which applies when
// several do: unknown (no record), then failing (its last try failed), then
// suspicious (its last complete backup collapsed), then never backed up,
// then stale (its last complete backup is older than
// `maxAgeSeconds`, or made "in the future"), then changed, then fine.
ControllerView viewOf(const FleetController& controller, const ControllerRecord* record,
                      qint64 maxAgeSeconds, const QDateTime& now);

// Each controller of `fleet` with the record `state` holds of it.
QList<ControllerView> viewsOf(const Fleet& fleet, const FleetState& state, const QDateTime& now);

// A fleet file with its state, as status, report and the metrics read it.
struct LoadedFleet {
    QString file;
    QString name; // the file's name without its suffix
    Fleet fleet;
    FleetState state;
    QString stateProblem; // why the state could not be read: every controller is unknown
    QString gateway;      // the computer that runs it, for a fleet read from a remote
};
shell::Result<LoadedFleet> loadFleet(const QString& fleetFile);

// Whether the fleet's newest whole run ended longer ago than its MaxAge:
// its runs have stopped. A fleet never run has not stopped; its
// controllers say what it lacks.
bool runsStopped(const LoadedFleet& fleet, const QDateTime& now);

// ISO 8601 with the offset, so that a time reads the same in any zone.
QString isoText(const QDateTime& time);

// "5 h", "3 d 4 h", "12 min".
QString ageText(qint64 seconds);

} // namespace kt::fleet
