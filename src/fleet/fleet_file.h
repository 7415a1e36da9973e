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

namespace kt::fleet {

struct FleetController {
    QString name; // the section's name, also the folder of its backups
    QString port;
    int address = 1;
    QList<const engine::Category*> categories = engine::allCategories();
    int cards = engine::kMaxCards;
    bool echo = false; // the line echoes each request
    QString folder;    // the backups go to folder/name/
    int line = 0;      // of the section's header
    // Percent of its last good backup's cards that a backup may lose before
    // it is suspicious: its section's MaxLoss, else the fleet's.
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
    int maxLoss = kDefaultMaxLoss;    // of each controller whose section gives none
    int retries = 0;                  // further tries of a controller that failed
    int retryPauseSeconds = 60;       // before each round of retries
    int jobs = 16;                    // controllers at a time
    QStringList onChange;             // each a program and its arguments
    QStringList onFailure;
    QStringList onDone;
    QString report;  // the report page rewritten after each run; empty: none
    QString metrics; // the metrics file rewritten after each run; empty: none
};

struct Fleet {
    FleetSettings settings;
    QList<FleetController> controllers;
};

// The reserved section of the run's settings.
inline constexpr char kFleetSection[] = "fleet";

// The largest fleet file read: far more than thousands of controllers.
inline constexpr qint64 kMaxFleetBytes = 4LL * 1024 * 1024;

// Reads and parses a fleet file; an error names the file and each line
// that is wrong.
shell::Result<Fleet> readFleetFile(const QString& fleetFile);

// Reads a fleet file's text. Controller keys (any letter case): Port,
// Address, Only, Cards, Echo, Folder, MaxLoss; Folder defaults to `fleetFolder`, the fleet
// file's folder, and a relative one is taken from there, as are History
// and Encrypt.
// Lines starting with ';' or '#' are comments.
// An Invalid error lists every mistake, a line each, each naming the file
// and its line.
shell::Result<Fleet> parseFleet(const QByteArray& text, const QString& fileName,
                                const QString& fleetFolder);

// A command line split into a program and its arguments, as a hook is run:
// blanks separate words, '...' keeps everything inside, "..." keeps all but
// \" and \\, and a backslash outside quotes keeps the next character. No
// variable, wildcard or other shell syntax means anything. Empty when the
// quotes do not close.
QStringList splitCommand(const QString& text);

} // namespace kt::fleet
