#include "apply_record.h"

#include "apply_plan.h"
#include "engine/backup_file.h"
#include "engine/record_compare.h"
#include "record_changes.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <algorithm>

namespace kt::fleet {

shell::Status recordApplies(const QString& fleetFile, const Fleet& fleet,
                            const std::map<QString, AppliedList>& applied) {
    const QString path = statePathOf(fleetFile);
    QLockFile lock(stateLockPathOf(path));
    if (const shell::Status locked = lockState(lock); !locked)
        return locked;
    const shell::Result<FleetState> read = readFleetState(path, &fleet);
    if (!read)
        return read.error();
    FleetState state = *read;
    for (const auto& [name, list] : applied)
        state.applies.insert_or_assign(name, list);
    return writeFleetState(path, state);
}

namespace {

// The categories `manifest` says were read, and those of `written`.
QList<const engine::Category*> categoriesOf(const engine::Manifest& manifest,
                                            const QMap<QByteArray, QByteArray>& written) {
    QList<const engine::Category*> held;
    for (const engine::Category& category : engine::categories()) {
        const bool read = manifest.categories.contains(QByteArray(category.languageKey));
        const bool wrote =
            std::any_of(written.keyBegin(), written.keyEnd(), [&](const QByteArray& key) {
                return engine::categoryOfKey(key) == &category;
            });
        if (read || wrote)
            held.append(&category);
    }
    return held;
}

// Adds to `records`, a reading whose manifest is `manifest`, what it did not
// read (other categories, further card slots) from the backup `fuller`.
void fillIn(QMap<QByteArray, QByteArray>& records, engine::Manifest& manifest,
            const QString& fuller) {
    const engine::ReadScope read = engine::readScopeOf(manifest);
    const QMap<QByteArray, QByteArray> all = engine::readBackupRecords(fuller);
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        if (!read.covers(it.key()))
            records.insert(it.key(), it.value());
    const engine::Manifest more = engine::readManifest(fuller);
    if (!manifest.categories.isEmpty())
        for (const QByteArray& category : more.categories)
            if (!manifest.categories.contains(category))
                manifest.categories.append(category);
    if (manifest.cards && more.cards && *more.cards > *manifest.cards)
        manifest.cards = more.cards;
}

} // namespace

shell::Result<bool> commitApplies(History& history, const QString& list, const QString& by,
                                  const QList<AppliedChange>& changes, CommittedDigests* digests) {
    QTemporaryDir folder;
    if (!folder.isValid())
        return shell::Error{
            shell::ErrorCode::Unwritable,
            QStringLiteral("cannot make a temporary folder: %1").arg(folder.errorString()),
            {}};
    QStringList lines, trailers;
    for (const AppliedChange& change : changes) {
        const QString committed = digests ? QString() : history.committedFile(change.section);
        const QString base = committed.isEmpty() ? change.before : committed;
        engine::Manifest manifest = engine::readManifest(base);
        QMap<QByteArray, QByteArray> before = engine::readBackupRecords(base);
        if (digests && !change.lastBackup.isEmpty())
            fillIn(before, manifest, change.lastBackup);
        QMap<QByteArray, QByteArray> after = before;
        int cards = manifest.cards.value_or(0);
        for (auto it = change.written.cbegin(); it != change.written.cend(); ++it) {
            after.insert(it.key(), it.value());
            if (const engine::Category* category = engine::categoryOfKey(it.key());
                category && category->cards)
                cards = std::max(cards, it.key().mid(2).toInt());
        }
        const QString file = QDir(folder.path()).filePath(change.section + QStringLiteral(".KT"));
        if (const shell::Status written = writeRecordSet(
                file, after, change.controller, categoriesOf(manifest, change.written), cards);
            !written)
            return written.error();
        if (const shell::Status staged = history.stage(change.section, file); !staged)
            return staged.error();
        const engine::ReadScope afterRead = engine::readScopeOf(engine::readManifest(file));
        RecordChanges counted;
        if (digests) {
            const QMap<QByteArray, QByteArray> stored = engine::readBackupRecords(file);
            const QMap<QByteArray, QByteArray> afterDigests = digests->digestsOf(stored);
            counted = digests->changesTo(change.section, history.sectionTree(change.section),
                                         afterDigests, stored, afterRead);
            digests->stage(change.section, afterDigests, afterRead);
        } else {
            counted =
                changesBetween(before, after, false, engine::readScopeOf(manifest), afterRead);
        }
        lines.append(describeChanges(change.section, counted));
        trailers.append(countsTrailer(change.section, counted));
    }
    if (changes.isEmpty())
        return false;
    const QString head = QStringLiteral("apply %1 by %2: %3 controller%4 changed")
                             .arg(QFileInfo(list).fileName(), by)
                             .arg(changes.size())
                             .arg(changes.size() == 1 ? "" : "s");
    return history.commit(QStringList{head, QString()}.join(u'\n') + u'\n' + lines.join(u'\n') +
                          QStringLiteral("\n\n") + trailers.join(u'\n') + u'\n');
}

QString applierName() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME"); // Windows
    return (user.isEmpty() ? QStringLiteral("unknown") : user.left(64)) + u'@' +
           QSysInfo::machineHostName();
}

} // namespace kt::fleet
