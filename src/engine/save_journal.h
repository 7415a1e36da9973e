// The records of a Save on their way into the backup file set. Each record
// is appended to a journal beside the set (.NAME.journal, for its owner
// only) with one write and one data sync, so that it is on disk before the
// next request goes out; the journal is folded into the INI files, each
// rewritten once and atomically, at the end of each category and of the
// job, on a cancel or an error, and every few seconds. The files a job
// leaves are the same, byte for byte, as if each record had been written
// into them on its own, and they stay readable by the earlier program
// whenever no job is writing them. A journal left by a killed job is
// folded in by the next one that opens the set.
#pragma once

#include "shell/result.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

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
    // Folding is due this long after the last one, or 50 times as long as
    // the last one took, whichever is longer: a fold of a huge file never
    // takes more than a fiftieth of the job's time.
    static constexpr qint64 kFoldEveryMs = 5000;

    explicit SaveJournal(QString mainFile);
    // Removes the journal when it holds nothing that is not in the files.
    ~SaveJournal();
    SaveJournal(const SaveJournal&) = delete;
    SaveJournal& operator=(const SaveJournal&) = delete;

    // `key` = `value` in section Data of `file`, a file of the set; on disk
    // when this returns done.
    shell::Status set(const QString& file, const QByteArray& key, const QByteArray& value);
    // `key` goes from section Data of `file`.
    shell::Status remove(const QString& file, const QByteArray& key);
    // Writes what the journal holds into the files and empties it.
    shell::Status fold();
    bool foldDue() const {
        return !pending_.isEmpty() && sinceFold_.elapsed() >= qMax(kFoldEveryMs, 50 * lastFoldMs_);
    }
    // A fold at a break (a category's end) is worth it unless folds of this
    // set take long (a huge file): then only when due.
    bool foldAtBreak() const { return lastFoldMs_ < 100 || foldDue(); }

  private:
    shell::Status append(char op, const QString& file, const QByteArray& key,
                         const QByteArray& value);
    shell::Status cannotWrite() const;

    QString mainFile_;
    QString journal_;
    QStringList files_; // the set, in the order of a record's place
    int fd_ = -1;
    QList<JournalEntry> pending_; // appended since the last fold
    qint64 lastFoldMs_ = 0;
    QElapsedTimer sinceFold_;
};

// Folds a journal that a killed job left beside `mainFile` into its set,
// while no other job uses the set. The number of records it held (0: there
// was none); an InUse error when a job holds the set.
shell::Result<int> foldLeftJournal(const QString& mainFile);

} // namespace kt::engine
