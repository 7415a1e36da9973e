// A fleet file: one section per controller, and what --keep removes.
#pragma once

#include "engine/backup_file.h"
#include "engine/categories.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace kt::cli {

struct FleetController {
    QString name; // the section's name, also the folder of its backups
    QString port;
    int address = 1;
    QList<const engine::Category*> categories = engine::allCategories();
    int cards = engine::kMaxCards;
    QString folder; // the backups go to folder/name/
    int line = 0;   // of the section's header
};

struct Fleet {
    QList<FleetController> controllers;
    QStringList errors; // each names the file and the line
};

// Reads a fleet file's text. Keys (any letter case): Port, Address, Only,
// Cards, Folder; Folder defaults to `fleetFolder`, the fleet file's folder,
// and a relative one is taken from there. Lines starting with ';' or '#'
// are comments.
Fleet parseFleet(const QByteArray& text, const QString& fileName, const QString& fleetFolder);

// A backup in a controller's folder: its main file's name (a time stamp,
// YYYY-MM-DD_HHMMSS.KT, perhaps with -N), whether it says Complete=1, and
// when it was made: its manifest's Finished time, or for a stopped backup
// its Started time, or else the time its name gives.
struct StoredBackup {
    QString name;
    bool complete = false;
    QDateTime made = {};
};

// The backups that --keep N removes: all but the N newest complete ones,
// and the incomplete ones older than the newest complete one, by the time
// they were made, never by their names. An incomplete backup newer than
// every complete one stays, and so does `justMade`, the backup of this run.
QStringList backupsToRemove(QList<StoredBackup> backups, int keep, const QString& justMade);

// The backups of a controller's folder, by the names the fleet gives them.
QList<StoredBackup> storedBackups(const QString& folder);

// Creates a new backup file in `folder` named by `stamp`, with -2, -3...
// when that name is taken, so that no two jobs ever share a file. Returns
// its path, or an empty text when the folder cannot take one.
QString claimBackupName(const QString& folder, const QString& stamp);

} // namespace kt::cli
