// What an apply leaves in the fleet besides the controllers: each
// controller's outcome in the fleet's state, and one history commit of the
// controllers it changed.
#pragma once

#include "fleet_file.h"
#include "fleet_state.h"
#include "history.h"
#include "shell/result.h"
#include "version_digests.h"

#include <QList>
#include <QMap>
#include <QString>
#include <map>

namespace kt::fleet {

// Records `applied` (by controller) in the state of `fleetFile`, under the
// state's lock; every other record stays as it is. A state that cannot be
// read is not written over.
shell::Status recordApplies(const QString& fleetFile, const Fleet& fleet,
                            const std::map<QString, AppliedList>& applied);

// A controller that an apply changed and read back equal.
struct AppliedChange {
    QString section;
    QString before;                       // its before-apply backup
    QMap<QByteArray, QByteArray> written; // the records written, by key
    QByteArray controller;                // its address, two digits
    QString lastBackup = {};              // its newest complete backup of a run; empty: none
};

// Commits the new contents of `changes` to `history` in one commit. In a
// history in clear: each section's committed version (or, for a section
// without one, its before-apply reading) with the written records in it.
// In an encrypted one, which cannot be read here, `digests` (given exactly
// then) stand for the committed versions: each section's before-apply
// reading, with what it did not read taken from its last backup, and the
// written records in it; the changes are told against the digests, and the
// new versions' digests go into them. The message names the list, who
// applied it (`by`) and the counts, never a value. True when a commit was
// made.
shell::Result<bool> commitApplies(History& history, const QString& list, const QString& by,
                                  const QList<AppliedChange>& changes,
                                  CommittedDigests* digests = nullptr);

// "user@host" of this process, for a commit message.
QString applierName();

} // namespace kt::fleet
