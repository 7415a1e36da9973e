// The backups of one controller's folder: their names, their order, and
// what --keep removes.
#pragma once

#include "engine/backup_file.h"
#include "shell/result.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace kt::fleet {

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
// every complete one stays, and so do `justMade`, the backup of this run,
// and `lastGood`, the controller's last good backup however old it is: after
// a collapse it is the one worth restoring.
QStringList backupsToRemove(QList<StoredBackup> backups, int keep, const QString& justMade,
                            const QString& lastGood = {});

// The backups of a controller's folder, by the names the fleet gives them:
// a run's (a time stamp), or an apply's reading of the controller before it
// wrote (the time stamp, then -before-apply).
enum class BackupKind { Run, BeforeApply };
QList<StoredBackup> storedBackups(const QString& folder, BackupKind kind = BackupKind::Run);

// Creates `folder` when missing (for its owner only), ends what killed
// Saves left in it (see engine::endLeftSave), and makes a new backup file
// in it named by `stamp`, with -2, -3... when that name is taken, so that
// no two jobs ever share a file. Returns its path, or an error with the
// system's reason.
shell::Result<QString> claimBackupName(const QString& folder, const QString& stamp);

// Removes the backups that --keep N removes from `folder`, and of its
// before-apply backups all but the N newest complete ones (the newest
// always stays); a set that a job holds stays for the next run.
void pruneBackups(const QString& folder, int keep, const QString& justMade,
                  const QString& lastGood = {});

// Removes the file set of `mainFile` under its lock; InUse, and nothing
// removed, when another job holds it.
shell::Status removeBackupSet(const QString& mainFile);

// The newest complete backup of a folder, by the time it was made; an
// empty name when there is none. `except` is left out, and so is a backup
// made more than kClockToleranceSeconds after `now` (a clock that was
// ahead): it would stay the newest for ever.
StoredBackup newestComplete(const QList<StoredBackup>& backups, const QDateTime& now,
                            const QString& except = {});

} // namespace kt::fleet
