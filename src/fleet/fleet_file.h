// A fleet file: one section per controller, and the section [fleet] with
// the settings of the run itself.
#pragma once

#include "collapse.h"
#include "engine/backup_file.h"
#include "engine/categories.h"
#include "remote_address.h"
#include "shell/result.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace kt::fleet {

struct FleetController {
    QString name; // the section's name, also the folder of its backups
    QString port;
    int address = 1;
    QList<const engine::Category*> categories = engine::allCategories();
    int cards = engine::kMaxCards;
    bool echo = false; // the line echoes each request
    QString folder;    // the backups go to folder/name/
    QString file;      // that holds its section, as messages name it
    int line = 0;      // of the section's header
    // Percent of its last good backup's cards that a backup may lose before
    // it is suspicious.
    int maxLoss = kDefaultMaxLoss;

    // The folder that holds this controller's backups.
    QString backupFolder() const;
};

// The run's own settings, from [fleet].
struct FleetSettings {
    QString history;                  // the git history's folder; empty: none
    QString encrypt;                  // the age recipients its versions go to; empty: in clear
    RemoteAddress remote;             // pushed after each run; empty: none
    QString branch;                   // the remote's branch of this fleet
    int pushTimeoutSeconds = 60;      // a push that takes longer is ended
    int pushFailLimit = 3;            // runs in a row whose push failed before a run exits 2
    qint64 maxAgeSeconds = 26 * 3600; // older than this, a last backup is stale
    int retries = 0;                  // further tries of a controller that failed
    int retryPauseSeconds = 60;       // before each round of retries
    int jobs = 16;                    // controllers at a time
    int jobsPerProcess = 16;          // saves that share a job process; 1: each its own
    QStringList onChange;             // each a program and its arguments
    QStringList onFailure;
    QStringList onDone;
    QString report;  // the report page rewritten after each run; empty: none
    QString metrics; // the metrics file rewritten after each run; empty: none
};

struct Fleet {
    FleetSettings settings;
    QList<FleetController> controllers;
    QString file; // the fleet file as it was named; empty for a fleet made otherwise
};

// The fleet with only the controllers that `names` names (every one when it
// is empty), in the fleet file's order. A section's name matches in any
// letter case, as INI sections do.
Fleet chosenControllers(const Fleet& fleet, const QStringList& names);
// The names of `names` that name no controller of the fleet.
QStringList unknownControllers(const Fleet& fleet, const QStringList& names);

// The reserved section of the run's settings.
inline constexpr char kFleetSection[] = "fleet";

// The largest fleet file read: far more than thousands of controllers.
inline constexpr qint64 kMaxFleetBytes = 4LL * 1024 * 1024;

// Reads and parses a fleet file and the files it includes; an error names
// the file and each line that is wrong.
shell::Result<Fleet> readFleetFile(const QString& fleetFile);

// A file of controllers' sections, named as messages name it, and its text.
struct FleetText {
    QString name;
    QByteArray text;
};

// The files that an Include= pattern names, read, in the order they are
// taken; or why they cannot be had.
using IncludeReader = std::function<shell::Result<QList<FleetText>>(const QString& pattern)>;

// Reads a fleet file's text. Controller keys (any letter case): Port,
// Address, Only, Cards, Echo, Folder, MaxLoss; each may stand in [fleet] as
// the default of every section that does not give it. Folder defaults to
// `fleetFolder`, the fleet file's folder, and a relative one is taken from
// there, as are History and Encrypt. Include=PATTERN in [fleet] adds the sections of the
// files `include` gives for it, after the fleet file's own; such a file
// holds neither [fleet] nor Include=, and no section name may stand twice
// in the fleet. Lines starting with ';' or '#' are comments.
// An Invalid error lists every mistake, a line each, each naming the file
// and its line.
shell::Result<Fleet> parseFleet(const QByteArray& text, const QString& fileName,
                                const QString& fleetFolder, const IncludeReader& include = {});

// A command line split into a program and its arguments, as a hook is run:
// blanks separate words, '...' keeps everything inside, "..." keeps all but
// \" and \\, and a backslash outside quotes keeps the next character. No
// variable, wildcard or other shell syntax means anything. Empty when the
// quotes do not close.
QStringList splitCommand(const QString& text);

} // namespace kt::fleet
