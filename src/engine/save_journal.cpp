#include "save_journal.h"

#include "backup_file.h"
#include "shell/ini_file.h"
#include "shell/regular_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <map>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

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

QList<Entry> readEntries(const QByteArray& journal) {
    QList<Entry> entries;
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
        entries.append(entry);
    }
    return entries;
}

// Applies the entries to the files of the set, each file read once and
// replaced once through its copy, in the order of the entries.
shell::Status applyEntries(const QString& mainFile, const QList<Entry>& entries) {
    const QStringList files = backupFileSet(mainFile);
    struct State {
        std::unique_ptr<shell::IniSectionEditor> editor; // none: no such file yet
        bool changed = false;
    };
    std::map<int, State> states;
    for (const Entry& entry : entries) {
        auto [it, fresh] = states.try_emplace(entry.place);
        State& state = it->second;
        const QString& file = files[entry.place];
        if (fresh) {
            const shell::Result<QByteArray> read = shell::readRegularFile(file);
            if (!read && read.error().code != shell::ErrorCode::NotFound)
                return read.error();
            if (read)
                state.editor = std::make_unique<shell::IniSectionEditor>(*read, kDataSection);
        }
        if (entry.op == 'S') {
            if (!state.editor)
                state.editor =
                    std::make_unique<shell::IniSectionEditor>(QByteArray(), kDataSection);
            state.changed = true;
            if (!state.editor->set(entry.key, entry.value))
                return shell::Error{shell::ErrorCode::Invalid,
                                    QStringLiteral("%1: record %2 cannot be stored")
                                        .arg(file, QString::fromLatin1(entry.key)),
                                    file};
        } else if (state.editor) {
            state.changed = state.editor->remove(entry.key) || state.changed;
        }
    }
    for (const auto& [place, state] : states) {
        if (!state.changed)
            continue;
        const QString& file = files[place];
        if (const shell::Status replaced =
                shell::replaceFileThrough(file, copyFileOf(file), state.editor->data());
            !replaced)
            return replaced;
    }
    return shell::done();
}

} // namespace

QString journalFileOf(const QString& mainFile) {
    const QFileInfo info(mainFile);
    return info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".journal"));
}

SaveJournal::SaveJournal(QString mainFile)
    : mainFile_(std::move(mainFile)), journal_(journalFileOf(mainFile_)),
      files_(backupFileSet(mainFile_)) {
    sinceFold_.start();
}

SaveJournal::~SaveJournal() {
#ifdef Q_OS_UNIX
    if (fd_ >= 0)
        ::close(fd_);
#endif
    // Folded, it holds nothing: it goes. Otherwise it stays for the next
    // job that opens the set.
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

shell::Status SaveJournal::cannotWrite() const {
    return shell::Error{shell::ErrorCode::Unwritable,
                        QStringLiteral("cannot write %1").arg(journal_), journal_};
}

shell::Status SaveJournal::append(char op, const QString& file, const QByteArray& key,
                                  const QByteArray& value) {
    const qsizetype place = files_.indexOf(file);
    if (place < 0 || !shell::iniCanHold(value))
        return shell::Error{
            shell::ErrorCode::Invalid,
            QStringLiteral("%1: record %2 cannot be stored").arg(file, QString::fromLatin1(key)),
            file};
    Entry entry{op, int(place), key, op == 'S' ? value : QByteArray()};
    const QByteArray line = lineOf(entry);
#ifdef Q_OS_UNIX
    if (fd_ < 0) {
        fd_ = ::open(QFile::encodeName(journal_).constData(),
                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0)
            return cannotWrite();
    }
    // One write a record, then its data on disk before anything else goes.
    if (::write(fd_, line.constData(), size_t(line.size())) != line.size() || ::fdatasync(fd_) != 0)
        return cannotWrite();
#else
    QFile out(journal_);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Append) || out.write(line) != line.size() ||
        !out.flush())
        return cannotWrite();
#endif
    pending_.append(std::move(entry));
    return shell::done();
}

shell::Status SaveJournal::fold() {
    if (pending_.isEmpty())
        return shell::done();
    QElapsedTimer took;
    took.start();
    if (const shell::Status applied = applyEntries(mainFile_, pending_); !applied)
        return applied; // the journal stays, with every record
#ifdef Q_OS_UNIX
    // Emptied, not removed: the next record goes on where this one ended.
    if (::ftruncate(fd_, 0) != 0 || ::fdatasync(fd_) != 0)
        return cannotWrite();
#else
    QFile::resize(journal_, 0);
#endif
    pending_.clear();
    lastFoldMs_ = took.elapsed();
    sinceFold_.start();
    return shell::done();
}

shell::Result<int> foldLeftJournal(const QString& mainFile) {
    const QString journal = journalFileOf(mainFile);
    if (!QFileInfo::exists(journal))
        return 0;
    BackupLock lock;
    if (const shell::Status held = lock.take(mainFile, true); !held)
        return held.error();
    const shell::Result<QByteArray> text = shell::readRegularFile(journal);
    if (!text)
        return text.error();
    const QList<Entry> entries = readEntries(*text);
    if (const shell::Status applied = applyEntries(mainFile, entries); !applied)
        return applied.error();
    QFile::remove(journal);
    shell::SyncIniDirectory(mainFile);
    return int(entries.size());
}

} // namespace kt::engine
