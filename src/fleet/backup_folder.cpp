#include "backup_folder.h"

#include "engine/backup_file.h"
#include "engine/save_workspace.h"
#include "fleet_state.h"

#include "shell/user_folders.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>

namespace kt::fleet {

QStringList backupsToRemove(QList<StoredBackup> backups, int keep, const QString& justMade,
                            const QString& lastGood) {
    // Newest first; among equal times, by name.
    std::sort(backups.begin(), backups.end(), [](const StoredBackup& a, const StoredBackup& b) {
        return a.made != b.made ? a.made > b.made : a.name > b.name;
    });
    QStringList doomed;
    int completeSeen = 0;
    for (const StoredBackup& backup : std::as_const(backups)) {
        if (backup.name == justMade) {
            completeSeen += backup.complete ? 1 : 0;
            continue;
        }
        if (backup.complete) {
            if (++completeSeen > keep && backup.name != lastGood)
                doomed.append(backup.name);
        } else if (completeSeen > 0) {
            doomed.append(backup.name); // a stopped backup older than a complete one
        }
    }
    return doomed;
}

namespace {

const QRegularExpression& backupName(BackupKind kind) {
    static const QRegularExpression run(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d{6})(-\\d+)?\\.KT$"));
    static const QRegularExpression beforeApply(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d{6})-before-apply(-\\d+)?\\.KT$"));
    return kind == BackupKind::Run ? run : beforeApply;
}

} // namespace

QList<StoredBackup> storedBackups(const QString& folder, BackupKind kind) {
    QList<StoredBackup> backups;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch match = backupName(kind).match(name);
        if (!match.hasMatch())
            continue;
        const engine::Manifest manifest = engine::readManifest(QDir(folder).filePath(name));
        StoredBackup backup{name, manifest.complete.value_or(false)};
        backup.made = backup.complete ? manifest.finishedAt() : manifest.startedAt();
        if (!backup.made.isValid())
            backup.made =
                QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd_HHmmss"));
        backups.append(backup);
    }
    return backups;
}

shell::Result<QString> claimBackupName(const QString& folder, const QString& stamp) {
    const auto failed = [&](const char* what, int error) {
        return shell::Error{shell::ErrorCode::Unwritable,
                            QStringLiteral("cannot %1 %2: %3")
                                .arg(QLatin1String(what), folder, qt_error_string(error)),
                            folder};
    };
    if (const shell::Status made = shell::makePrivateFolders(folder); !made)
        return made.error();
    // Records that killed Saves read go into their sets now, as the next
    // job on each set would put them: no later run opens those sets again.
    for (const QString& left : engine::setsWithWorkspace(folder))
        (void)engine::endLeftSave(left); // one in use or not trusted stays as it is
    for (int n = 1; n <= 1000; ++n) {
        const QString file = QDir(folder).filePath(
            stamp + (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + QStringLiteral(".KT"));
        errno = 0;
        switch (engine::createNewBackupFile(file)) {
        case engine::NewFile::Created:
            return file;
        case engine::NewFile::Exists:
            continue;
        case engine::NewFile::Failed:
            return failed("create a backup file in", errno);
        }
    }
    return failed("find a free backup name in", EEXIST);
}

void pruneBackups(const QString& folder, int keep, const QString& justMade,
                  const QString& lastGood) {
    // One in use stays for the next run.
    for (const QString& name : backupsToRemove(storedBackups(folder), keep, justMade, lastGood))
        static_cast<void>(removeBackupSet(QDir(folder).filePath(name)));
    // Before-apply backups are kept by the same count among themselves; the
    // newest always stays, as the way back from the last apply.
    const QList<StoredBackup> applied = storedBackups(folder, BackupKind::BeforeApply);
    const StoredBackup newest = newestComplete(applied, QDateTime::currentDateTime());
    for (const QString& name : backupsToRemove(applied, keep, newest.name))
        static_cast<void>(removeBackupSet(QDir(folder).filePath(name)));
}

shell::Status removeBackupSet(const QString& mainFile) {
    engine::BackupLock lock;
    if (const shell::Status held = lock.take(mainFile, true); !held)
        return held;
    for (const QString& file : engine::backupFileSet(mainFile))
        QFile::remove(file);
    return shell::done(); // the lock file goes with the lock
}

StoredBackup newestComplete(const QList<StoredBackup>& backups, const QDateTime& now,
                            const QString& except) {
    StoredBackup newest;
    for (const StoredBackup& backup : backups)
        if (backup.complete && backup.name != except &&
            backup.made.secsTo(now) >= -kClockToleranceSeconds &&
            (newest.name.isEmpty() || backup.made > newest.made ||
             (backup.made == newest.made && backup.name > newest.name)))
            newest = backup;
    return newest;
}

} // namespace kt::fleet
