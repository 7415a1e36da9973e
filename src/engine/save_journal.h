// The records of a Save on their way into the backup file set. Each record
// is appended to a journal beside the set (.NAME.journal, for its owner
// only) with one write, before the next request goes out: a kill of the
// program loses none. The journal's data is synced at most once a second, so
// that a power loss loses at most the last second of records, and at a
// category's end. A fold writes the journal into the INI files, each
// rewritten once through its copy and synced; it is due once the journal
// holds as many bytes as the files the last fold wrote (at least 64 KiB), so
// that all folds of a job together write about twice the final files
// whatever their size; and at the job's end. The files a job leaves are the
// same, byte for byte, as if each record had been written into them on its
// own, and they stay readable by any reader of the format whenever no job is
// writing them. A journal left by a killed job is folded in by the next one
// that opens the set.
#pragma once

#include "backup_file.h"
#include "link/clock.h"
#include "shell/append_file.h"
#include "shell/result.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>

namespace kt::engine {

// The journal of a backup's main file: /backup/01.KT gives
// /backup/.01.KT.journal.
QString journalFileOf(const QString& mainFile);

// A record of a journal: set (op S) or remove (op R) `key` in section Data
// of the file at `place` in the set (0 the main file, 1 to 4 the card
// files).
struct JournalEntry {
    char op;
    int place;
    QByteArray key;
    QByteArray value;
};

class SaveJournal {
  public:
    static constexpr qint64 kSyncEveryMs = 1000;
    static constexpr qint64 kMinFoldBytes = 64 * 1024;

    // `clock` times the syncs.
    SaveJournal(QString mainFile, link::Clock& clock);
    // Removes the journal when it holds nothing that is not in the files.
    ~SaveJournal();
    SaveJournal(const SaveJournal&) = delete;
    SaveJournal& operator=(const SaveJournal&) = delete;

    // `key` = `value` in section Data of `file`, a file of the set; written
    // to the journal when this returns done, synced within a second.
    shell::Status set(const QString& file, const QByteArray& key, const QByteArray& value);
    // `key` goes from section Data of `file`.
    shell::Status remove(const QString& file, const QByteArray& key);
    // Syncs the records not yet on disk.
    shell::Status sync();
    // Writes what the journal holds into the files, syncs them and empties
    // the journal.
    shell::Status fold();
    // Once the journal holds as many bytes as the files the last fold wrote,
    // and at least kMinFoldBytes.
    bool foldDue() const { return pending_.size() >= qMax(kMinFoldBytes, foldedBytes_); }

  private:
    shell::Status append(char op, const QString& file, const QByteArray& key,
                         const QByteArray& value);
    shell::Status cannotWrite();

    QString mainFile_;
    QString journal_;
    QStringList files_;                              // the set, in the order of a record's place
    std::unique_ptr<shell::AppendFile> journalFile_; // open from the first record
    QByteArray pending_;                             // the journal's lines since the last fold
    qint64 foldedBytes_ = 0;                         // the size of the files the last fold wrote
    bool unsynced_ = false;                          // records written since the last sync
    bool failed_ = false;                            // a sync failed: nothing more is taken
    bool folderSynced_ = false;                      // the journal's name is on disk
    QString reason_;                                 // why the journal could not be written
    link::Clock& clock_;
    double lastSyncMs_; // when the journal was last synced, or began
    // Syncs a record within a second when no later one does.
    link::ClockCall syncCall_;
};

// The journal a killed job left beside `mainFile`, empty when there is
// none. It is used only when it is a regular file of the backup's owner (of
// this user's, for a set with no main file yet) that nobody else may write;
// else an Untrusted error names it, and nothing of it is used.
shell::Result<QByteArray> readLeftJournal(const QString& mainFile);

// The records of a set (as readSetRecords gives them) with a journal that a killed job left applied
// on top, in memory: what the set holds once folded, for a job that only reads the set (a restore,
// a verify, a diff). Nothing is written.
shell::Result<SetRecords> readSetWithJournal(const QString& mainFile);

// Folds a journal that a killed job left beside `mainFile` into its set,
// while no other job uses the set: for a job that writes the set. The number of records it held (0:
// there was none); an InUse error when a job holds the set.
shell::Result<int> foldLeftJournal(const QString& mainFile);

} // namespace kt::engine
