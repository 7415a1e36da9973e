#include "save_workspace.h"

#include "backup_file.h"
#include "record_compare.h"
#include "save_journal.h"
#include "shell/append_file.h"
#include "shell/ini_file.h"
#include "shell/regular_file.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace kt::engine {

namespace {

// The replacing files, staged in the workspace: once the main file is
// there, every other one is too, and the replacing can be finished.
QString stagedFolderOf(const QString& mainFile) {
    return QDir(workspaceOf(mainFile)).filePath(QStringLiteral("replacing"));
}

QString stagedFileOf(const QString& mainFile, const QString& file) {
    return QDir(stagedFolderOf(mainFile)).filePath(QFileInfo(file).fileName());
}

bool present(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The places of a set's files, card files first: its main file, which
// tells a reader what the set is, changes last.
QList<int> placesMainLast(const QStringList& files) {
    QList<int> places;
    for (int place = 1; place < files.size(); ++place)
        places.append(place);
    places.append(0);
    return places;
}

int recordsOf(const SetRecords& set) {
    int records = 0;
    for (const auto& [file, values] : set)
        records += int(values.size());
    return records;
}

// A failure of the last call of the system's, in its words.
shell::Error unwritable(const QString& path) {
    const QString reason = qt_error_string();
    return shell::Error{shell::ErrorCode::Unwritable,
                        QStringLiteral("cannot write %1: %2").arg(path, reason), path, reason};
}

void removeWorkspace(const QString& mainFile) {
    QDir(workspaceOf(mainFile)).removeRecursively();
    shell::SyncIniDirectory(mainFile);
}

// Stages each file of the set that the Save changes: its bytes as they
// are, with the records the Save read put in (a record it read and found
// empty goes) and, in the main file, its manifest.
shell::Status stage(const QString& mainFile) {
    const QString working = workingFileOf(mainFile);
    const Manifest made = readManifest(working);
    const ReadScope read = readScopeOf(made);
    const SetRecords old = readSetRecords(mainFile);
    const QStringList targets = backupFileSet(mainFile);
    const QStringList works = backupFileSet(working);
    const QString staged = stagedFolderOf(mainFile);
    QDir(staged).removeRecursively();
    if (!QDir().mkdir(staged, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return unwritable(staged);
    for (const int place : placesMainLast(targets)) {
        const QString& target = targets[place];
        const QList<std::pair<QByteArray, QByteArray>> ours =
            shell::ReadIniSection(works[place], kDataSection);
        QSet<QByteArray> kept;
        for (const auto& [key, value] : ours)
            kept.insert(key.toUpper());
        QList<QByteArray> gone;
        const auto held = old.find(target);
        if (held != old.end())
            for (auto it = held->second.cbegin(); it != held->second.cend(); ++it)
                if (categoryOfKey(it.key()) && read.covers(it.key()) && !kept.contains(it.key()))
                    gone.append(it.key());
        if (place != 0 && ours.isEmpty() && gone.isEmpty())
            continue; // a file the Save did not change
        const shell::Result<QByteArray> bytes = shell::readRegularFile(target);
        if (!bytes && bytes.error().code != shell::ErrorCode::NotFound)
            return bytes.error();
        QByteArray data = bytes ? *bytes : place == 0 ? newBackupContents() : QByteArray();
        shell::IniSectionEditor records(data, kDataSection);
        for (const QByteArray& key : std::as_const(gone))
            records.remove(key);
        const auto cannotStand = [&] {
            return shell::Error{shell::ErrorCode::Invalid,
                                target + QStringLiteral(": a value cannot stand in the file"),
                                target};
        };
        for (const auto& [key, value] : ours)
            if (!records.set(key, value))
                return cannotStand();
        data = records.data();
        if (place == 0 && !takeManifest(data, made))
            return cannotStand();
        const QString file = stagedFileOf(mainFile, target);
        if (const shell::Status written = shell::replaceFileThrough(file, copyFileOf(file), data);
            !written)
            return written;
    }
    shell::SyncIniDirectory(stagedFileOf(mainFile, mainFile));
    return shell::done();
}

// Puts the staged files in place of the set's, the main file last. Each
// file is replaced whole; a kill on the way leaves the staged files, and
// doing it again gives the same set.
shell::Status replaceFromStaged(const QString& mainFile) {
    const QStringList targets = backupFileSet(mainFile);
    for (const int place : placesMainLast(targets)) {
        const QString& target = targets[place];
        const QString staged = stagedFileOf(mainFile, target);
        if (!present(staged))
            continue;
        const shell::Result<QByteArray> bytes = shell::readRegularFile(staged);
        if (!bytes)
            return bytes.error();
        if (const shell::Status replaced =
                shell::replaceFileThrough(target, copyFileOf(target), *bytes);
            !replaced)
            return replaced;
    }
    shell::SyncIniDirectory(mainFile);
    removeWorkspace(mainFile);
    return shell::done();
}

// Copies the Save's own set beside the backup under the first free name
// with the time it stopped at; its main file's name.
shell::Result<QString> keepBeside(const QString& mainFile, const QDateTime& stoppedAt) {
    const QFileInfo info(mainFile);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString suffix = dot > 0 ? name.mid(dot) : QString();
    const QString stamp = stoppedAt.toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
    const QStringList works = backupFileSet(workingFileOf(mainFile));
    constexpr int kTries = 100;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        const QString candidate = info.dir().filePath(
            stem + QStringLiteral(".stopped-") + stamp +
            (attempt > 1 ? QStringLiteral("-%1").arg(attempt) : QString()) + suffix);
        const QStringList files = backupFileSet(candidate);
        if (std::any_of(files.cbegin(), files.cend(), present))
            continue;
        for (int place = 0; place < works.size(); ++place) {
            if (!present(works[place]))
                continue;
            const shell::Result<QByteArray> bytes = shell::readRegularFile(works[place]);
            if (!bytes)
                return bytes.error();
            if (const shell::Status written = shell::writeNewFile(files[place], *bytes); !written)
                return written.error();
        }
        shell::SyncIniDirectory(candidate);
        return candidate;
    }
    const QString reason = QStringLiteral("no free name for a stopped backup beside it");
    return shell::Error{shell::ErrorCode::Unwritable, mainFile + QStringLiteral(": ") + reason,
                        mainFile, reason};
}

} // namespace

QString workspaceOf(const QString& mainFile) {
    const QFileInfo info(mainFile);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() +
                               QStringLiteral(".kt560ax-save"));
}

QString workingFileOf(const QString& mainFile) {
    return QDir(workspaceOf(mainFile)).filePath(QFileInfo(mainFile).fileName());
}

QStringList setsWithWorkspace(const QString& folder) {
    static const QString suffix = QStringLiteral(".kt560ax-save");
    const QDir dir(folder);
    QStringList sets;
    for (const QString& name :
         dir.entryList({QStringLiteral(".*") + suffix}, QDir::Dirs | QDir::Hidden))
        sets.append(dir.filePath(name.mid(1, name.size() - 1 - suffix.size())));
    return sets;
}

bool holdsRecords(const QString& mainFile) {
    return recordsOf(readSetRecords(mainFile)) > 0;
}

shell::Status makeWorkspace(const QString& mainFile) {
    const QString folder = workspaceOf(mainFile);
    if (!QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return unwritable(folder);
    return shell::done();
}

shell::Result<SaveEnd> endSave(const QString& mainFile, const QDateTime& stoppedAt) {
    const QString working = workingFileOf(mainFile);
    if (!present(working)) {
        removeWorkspace(mainFile); // the Save read nothing
        return SaveEnd{};
    }
    const int records = recordsOf(readSetRecords(working));
    const bool complete = readManifest(working).complete.value_or(false);
    if (!complete && records == 0) {
        removeWorkspace(mainFile); // nothing read worth keeping
        return SaveEnd{};
    }
    if (complete || !holdsRecords(mainFile)) {
        if (const shell::Status staged = stage(mainFile); !staged)
            return staged.error();
        if (const shell::Status replaced = replaceFromStaged(mainFile); !replaced)
            return replaced.error();
        return SaveEnd{SaveEnd::Kind::Replaced, {}, records};
    }
    const shell::Result<QString> kept = keepBeside(mainFile, stoppedAt);
    if (!kept)
        return kept.error();
    removeWorkspace(mainFile);
    return SaveEnd{SaveEnd::Kind::KeptBeside, *kept, records};
}

shell::Result<SaveEnd> endLeftSave(const QString& mainFile) {
    const QString folder = workspaceOf(mainFile);
    if (!present(folder))
        return SaveEnd{};
    BackupLock lock;
    if (const shell::Status held = lock.take(mainFile, true); !held)
        return held.error();
    if (!shell::isOwnersFolder(folder, QFileInfo::exists(mainFile) ? mainFile : QString()))
        return shell::Error{shell::ErrorCode::Untrusted,
                            folder + QStringLiteral(" is not a folder of this backup's owner (a "
                                                    "link, another user's folder, or one others "
                                                    "may write): nothing of it was used"),
                            folder};
    const QString working = workingFileOf(mainFile);
    if (present(stagedFileOf(mainFile, mainFile))) {
        // Killed while replacing: the staged files are whole.
        const int records = recordsOf(readSetRecords(working));
        if (const shell::Status replaced = replaceFromStaged(mainFile); !replaced)
            return replaced.error();
        return SaveEnd{SaveEnd::Kind::Replaced, {}, records};
    }
    // When it stopped: its last record's time.
    QDateTime stoppedAt = QFileInfo(working).lastModified();
    const QDateTime journaled = QFileInfo(journalFileOf(working)).lastModified();
    if (journaled.isValid() && (!stoppedAt.isValid() || journaled > stoppedAt))
        stoppedAt = journaled;
    if (!stoppedAt.isValid())
        stoppedAt = wallClock();
    if (const shell::Result<int> folded = foldLeftJournal(working); !folded)
        return folded.error();
    return endSave(mainFile, stoppedAt);
}

} // namespace kt::engine
