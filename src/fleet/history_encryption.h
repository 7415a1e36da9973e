// A fleet's history encrypted as its Encrypt= says: the recipients it is
// encrypted to, trusted only in a file that no one else may change, and the
// one rewrite of a history that holds versions in clear.
#pragma once

#include "age_file.h"
#include "fleet_file.h"
#include "history.h"
#include "shell/result.h"

#include <QList>
#include <QString>

namespace kt::fleet {

// The recipients in `path`, age1... lines. The file decides who can read
// every version to come, so only this user's own file that no one else may
// write is used (no link either): anything else is Untrusted.
shell::Result<QList<AgeRecipient>> readFleetRecipients(const QString& path);

// Sets `history`, open to write, to encrypt new versions to the recipients
// of `settings.encrypt`, or to keep them in clear without it.
shell::Status encryptAsSet(History& history, const FleetSettings& settings);

// What --reencrypt did: the rewrite, and why the digests of the last
// versions could not be kept when they could not (the next run then commits
// each controller without comparing).
struct Reencryption {
    History::Reencrypted rewritten;
    QString digestsProblem;
};

// Rewrites the history of `fleet` once with every version encrypted to the
// recipients of its Encrypt=, and keeps the digests of each controller's
// last version beside `fleetFile`, read from the version while it is still
// in clear, for the runs to come.
shell::Result<Reencryption> reencryptHistory(const Fleet& fleet, const QString& fleetFile);

} // namespace kt::fleet
