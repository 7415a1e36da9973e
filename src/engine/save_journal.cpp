#include "save_journal.h"

#include "backup_file.h"
#include "shell/ini_file.h"
#include "shell/regular_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <optional>

namespace kt::engine {

namespace {

// One line a record: the operation (S set, R remove), the file's place in
// the set (0 the main file, 1 to 4 the card files), the key and the value,
// separated by tabs; a value holds no line break (the INI file could not
// hold it either). A line without its end was cut short by a kill and is
// not a record.
using Entry = JournalEntry;

QByteArray lineOf(const Entry& entry) {
    return QByteArray(1, entry.op) + '\t' + QByteArray::number(entry.place) + '\t' + entry.key +
           (entry.op == 'S' ? '\t' + entry.value : QByteArray()) + '\n';
}

// Calls `visit` with each record of a journal's text, in order, until it
// says false; then false.
template <typename Visit> bool forEachEntry(const QByteArray& journal, Visit visit) {
    qsizetype begin = 0;
    for (qsizetype end; (end = journal.indexOf('\n', begin)) >= 0; begin = end + 1) {
        const QByteArray line = journal.mid(begin, end - begin);
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 3 || (fields[0] != "S" && fields[0] != "R"))
            continue;
        bool ok = false;
        const int place = fields[1].toInt(&ok);
        if (!ok || place < 0 || place > 4 || fields[2].isEmpty())
            continue;
        Entry entry{fields[0][0], place, fields[2], {}};
        if (entry.op == 'S') {
            if (fields.size() < 4)
                continue;
            // The value is the rest of the line, tabs included.
            entry.value = line.mid(fields[0].size() + fields[1].size() + fields[2].size() + 3);
        }
        if (!visit(entry))
            return false;
    }
    return true;
}

// Applies the records of a journal's text to the files of the set in their
// order, one file at a time, so that only one file's lines are in memory at
// once: each file is read once and replaced once through its copy. The
// bytes written; the folder is not synced.
shell::Result<qint64> applyEntries(const QString& mainFile, const QByteArray& journal) {
    const QStringList files = backupFileSet(mainFile);
    qint64 written = 0;
    for (int place = 0; place < files.size(); ++place) {
        const QString& file = files[place];
        std::optional<shell::IniSectionEditor> editor; // none: no such file yet
        bool read = false;
        bool changed = false;
        std::optional<shell::Error> error;
        forEachEntry(journal, [&](const Entry& entry) {
            if (entry.place != place)
                return true;
            if (!read) {
                const shell::Result<QByteArray> data = shell::readRegularFile(file);
                if (!data && data.error().code != shell::ErrorCode::NotFound) {
                    error = data.error();
                    return false;
                }
                if (data)
                    editor.emplace(*data, kDataSection);
                read = true;
            }
            if (entry.op == 'R') {
                changed = (editor && editor->remove(entry.key)) || changed;
                return true;
            }
            if (!editor)
                editor.emplace(QByteArray(), kDataSection);
            changed = true;
            if (!editor->set(entry.key, entry.value))
                error = shell::Error{shell::ErrorCode::Invalid,
                                     QStringLiteral("%1: record %2 cannot be stored")
                                         .arg(file, QString::fromLatin1(entry.key)),
                                     file};
            return !error;
        });
        if (error)
            return *error;
        if (!changed)
            continue;
        const QByteArray data = editor->data();
        if (const shell::Status replaced = shell::replaceFileThrough(file, copyFileOf(file), data);
            !replaced)
            return replaced.error();
        written += data.size();
    }
    return written;
}

} // namespace

QString journalFileOf(const QString& mainFile) {
    const QFileInfo info(mainFile);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".journal"));
}

SaveJournal::SaveJournal(QString mainFile, link::Clock& clock)
    : mainFile_(std::move(mainFile)), journal_(journalFileOf(mainFile_)),
      files_(backupFileSet(mainFile_)), journalFile_(std::make_unique<shell::AppendFile>(journal_)),
      clock_(clock), lastSyncMs_(clock.nowMs()), syncCall_(clock) {}

SaveJournal::~SaveJournal() {
    // Folded, it holds nothing: it goes. Otherwise it stays, synced, for
    // the next job that opens the set.
    if (!pending_.isEmpty())
        (void)sync(); // nothing more can be done here; the records stay in the journal
    journalFile_.reset();
    if (pending_.isEmpty())
        QFile::remove(journal_);
}

shell::Status SaveJournal::set(const QString& file, const QByteArray& key,
                               const QByteArray& value) {
    return append('S', file, key, value);
}

shell::Status SaveJournal::remove(const QString& file, const QByteArray& key) {
    return append('R', file, key, {});
}

shell::Status SaveJournal::cannotWrite() {
    // The system's words for the failure that just happened, or for the
    // first one, which every later record meets again.
    if (reason_.isEmpty())
        reason_ = qt_error_string();
    return shell::Error{shell::ErrorCode::Unwritable,
                        QStringLiteral("cannot write %1: %2").arg(journal_, reason_), journal_,
                        reason_};
}

shell::Status SaveJournal::append(char op, const QString& file, const QByteArray& key,
                                  const QByteArray& value) {
    const qsizetype place = files_.indexOf(file);
    if (place < 0 || !shell::iniCanHold(value))
        return shell::Error{
            shell::ErrorCode::Invalid,
            QStringLiteral("%1: record %2 cannot be stored").arg(file, QString::fromLatin1(key)),
            file};
    if (failed_)
        return cannotWrite();
    const QByteArray line = lineOf({op, int(place), key, op == 'S' ? value : QByteArray()});
    // One write a record: in the system's hands, it outlives the program.
    if (!journalFile_->append(line))
        return cannotWrite();
    pending_ += line;
    unsynced_ = true;
    if (clock_.nowMs() - lastSyncMs_ >= kSyncEveryMs)
        return sync();
    // A failed sync marks the journal failed: the next record says so.
    if (!syncCall_.pending())
        syncCall_.at(lastSyncMs_ + kSyncEveryMs, [this] { (void)sync(); });
    return shell::done();
}

shell::Status SaveJournal::sync() {
    syncCall_.cancel();
    if (failed_)
        return cannotWrite();
    if (!unsynced_)
        return shell::done();
    // The journal's name first, once: its data is of no use without it.
    if (!folderSynced_)
        shell::SyncIniDirectory(journal_);
    folderSynced_ = true;
    if (!journalFile_->sync()) {
        failed_ = true;
        return cannotWrite();
    }
    unsynced_ = false;
    lastSyncMs_ = clock_.nowMs();
    return shell::done();
}

shell::Status SaveJournal::fold() {
    if (pending_.isEmpty())
        return shell::done();
    const shell::Result<qint64> written = applyEntries(mainFile_, pending_);
    if (!written)
        return written.error(); // the journal stays, with every record
    // The files' new names on disk before the journal lets go of them.
    shell::SyncIniDirectory(mainFile_);
    // Emptied, not removed: the next record goes on where this one ended.
    // Not synced: should the emptying be lost, the records go in again,
    // which changes nothing.
    if (!journalFile_->empty())
        return cannotWrite();
    pending_.clear();
    foldedBytes_ = *written;
    unsynced_ = false;
    syncCall_.cancel();
    lastSyncMs_ = clock_.nowMs();
    return shell::done();
}

shell::Result<QByteArray> readLeftJournal(const QString& mainFile) {
    const QString journal = journalFileOf(mainFile);
    const QFileInfo info(journal);
    if (!info.exists() && !info.isSymLink())
        return QByteArray();
    if (!shell::isOwnersFile(journal, mainFile))
        return shell::Error{shell::ErrorCode::Untrusted,
                            journal + QStringLiteral(" is not a journal of this backup's owner "
                                                     "(a link, another user's file, or one "
                                                     "others may write): nothing of it was used"),
                            journal};
    return shell::readRegularFile(journal);
}

shell::Result<SetRecords> readSetWithJournal(const QString& mainFile) {
    const shell::Result<QByteArray> journal = readLeftJournal(mainFile);
    if (!journal)
        return journal.error();
    SetRecords set = readSetRecords(mainFile);
    const QStringList files = backupFileSet(mainFile);
    forEachEntry(*journal, [&](const Entry& entry) {
        QMap<QByteArray, QByteArray>& values = set[files[entry.place]];
        if (entry.op == 'S')
            values.insert(entry.key.toUpper(), entry.value);
        else
            values.remove(entry.key.toUpper());
        return true;
    });
    return set;
}

shell::Result<int> foldLeftJournal(const QString& mainFile) {
    const QString journal = journalFileOf(mainFile);
    if (!QFileInfo::exists(journal) && !QFileInfo(journal).isSymLink())
        return 0;
    BackupLock lock;
    if (const shell::Status held = lock.take(mainFile, true); !held)
        return held.error();
    const shell::Result<QByteArray> text = readLeftJournal(mainFile);
    if (!text)
        return text.error();
    if (const shell::Result<qint64> applied = applyEntries(mainFile, *text); !applied)
        return applied.error();
    shell::SyncIniDirectory(mainFile);
    QFile::remove(journal);
    int records = 0;
    forEachEntry(*text, [&](const Entry&) {
        ++records;
        return true;
    });
    return records;
}

} // namespace kt::engine
