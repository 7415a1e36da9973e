// Where a Save writes: never into the backup it replaces. A Save writes the
// records it reads into a set of its own in a hidden folder beside the
// backup (/backup/01.KT gives /backup/.01.KT.kt560ax-save/01.KT and its
// card files). Once it completed, the backup's files take its records
// (keys it did not read keep their values) through staged copies in that
// folder, which a job killed half-way through the replacing finishes at the
// next start. A Save that stops keeps what it read in a set of its own
// beside the backup (site-a.stopped-2026-12-07_101500.KT), and the backup
// stays byte for byte as it was; a backup file set that held no record yet
// takes a stopped Save's records itself, marked Complete=0.
#pragma once

#include "shell/result.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace kt::engine {

// The hidden folder of the Saves into `mainFile`.
QString workspaceOf(const QString& mainFile);
// The main file of the set a Save writes, in that folder.
QString workingFileOf(const QString& mainFile);

// The main files of the sets in `folder` whose Saves left their folder
// behind.
QStringList setsWithWorkspace(const QString& folder);

// Whether a set holds a record in any of its files: a backup to keep.
bool holdsRecords(const QString& mainFile);

// Makes the folder for a Save that holds the set's exclusive lock, for its
// owner only. An error when it cannot be made or one is there already.
shell::Status makeWorkspace(const QString& mainFile);

// How a Save's records ended up.
struct SaveEnd {
    enum class Kind {
        Nothing,    // it read nothing; nothing was written
        Replaced,   // the set holds its records now
        KeptBeside, // the set is as it was; its records are in a set of their own
    };
    Kind kind = Kind::Nothing;
    QString keptIn; // KeptBeside: that set's main file
    int records = 0;
};

// Ends a Save whose records are all in its workspace (its journal folded),
// while the set's exclusive lock is held: a Save that completed, or one
// into a set without records, replaces the set; one that stopped is kept
// beside it under a name with `stoppedAt`. The workspace goes. On an error
// the workspace stays, whole, for the next job to end.
shell::Result<SaveEnd> endSave(const QString& mainFile, const QDateTime& stoppedAt);

// What a Save that was killed left in the workspace of `mainFile`, ended as
// endSave does, at the start of any job on the set (a journal is folded in
// first; replacing that was under way is finished). Nothing when there is
// no workspace. The set's exclusive lock is taken for it: an InUse error
// while another job holds the set; an Untrusted one for a workspace that is
// not a folder of the backup's owner that only they may write.
shell::Result<SaveEnd> endLeftSave(const QString& mainFile);

} // namespace kt::engine
