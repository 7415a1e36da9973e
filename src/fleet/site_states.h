// The states of the fleets that push to one remote, each to its own
// branch, read from each branch's newest commit without a work tree: a
// repository on this computer (bare, or a clone) where it is, a URL through
// a private bare copy in the user's cache folder that a fetch brings up to
// date.
#pragma once

#include "fleet_state.h"
#include "remote_address.h"
#include "shell/result.h"

#include <QList>
#include <QString>

namespace kt::fleet {

// A remote with more branches than this is read no further.
inline constexpr int kMaxSiteBranches = 1000;

// Whether `remote` names a folder of this computer, read where it is.
bool isLocalRepository(const QString& remote);

// The private copy of a remote URL in the user's cache folder.
QString siteCacheOf(const RemoteAddress& remote);

// Brings the copy of `remote` up to date with every branch it has (made,
// for its owner only, when missing). An error never holds the remote's
// credentials.
shell::Status fetchSite(const RemoteAddress& remote);

// The fleet of each branch of the repository in `folder`, by branch name:
// a clone's remote-tracking branches when it has them, else its branches.
// A branch whose newest commit holds no state that can be read is a fleet
// without controllers whose stateProblem says why. `shownAs` names the
// remote in messages. A repository that cannot be read is an error; one
// with more than kMaxSiteBranches too.
shell::Result<QList<LoadedFleet>> readSite(const QString& folder, const QString& shownAs);

} // namespace kt::fleet
