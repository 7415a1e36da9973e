// A fleet file: one section per controller, and what --keep removes.
#pragma once

#include "engine/categories.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kt::cli {

struct FleetController {
    QString name; // the section's name, also the folder of its backups
    QString port;
    int address = 1;
    QList<const engine::Category*> categories = engine::allCategories();
    int cards = 9999;
    QString folder; // the backups go to folder/name/
    int line = 0;   // of the section's header
};

struct Fleet {
    QList<FleetController> controllers;
    QStringList errors; // each names the file and the line
};

// Reads a fleet file's text. Keys (any letter case): Port, Address, Only,
// Cards, Folder; Folder defaults to `defaultFolder`. Lines starting with
// ';' or '#' are comments.
Fleet parseFleet(const QByteArray& text, const QString& fileName, const QString& defaultFolder);

// A backup in a controller's folder: its main file's name (a time stamp,
// YYYY-MM-DD_HHMMSS.KT) and whether it says Complete=1.
struct StoredBackup {
    QString name;
    bool complete = false;
};

// The backups that --keep N removes: all but the N newest complete ones,
// and the incomplete ones older than the newest complete one. An
// incomplete backup newer than every complete one stays.
QStringList backupsToRemove(QList<StoredBackup> backups, int keep);

// The backups of a controller's folder, by the names the fleet gives them.
QList<StoredBackup> storedBackups(const QString& folder);

} // namespace kt::cli
