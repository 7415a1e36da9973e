// Folders that belong to the user alone: new folders of the program's own
// files are made for their owner only, and the single-copy lock and its
// socket live in a folder no other user can take.
#pragma once

#include "result.h"

#include <QString>

namespace kt::shell {

// Makes `folder` and the folders above it that are missing, each readable
// by its owner only. Existing folders keep their modes. Unwritable, with
// the system's reason, for a folder that cannot be made.
Status makePrivateFolders(const QString& folder);

// The user's runtime folder, of the single-copy lock and its socket:
// $XDG_RUNTIME_DIR when it is a folder of this user's, else a folder of the
// system's temporary folder named by the user id and made for the user
// alone, else (another user took that name) a folder in the user's cache
// folder. On Windows, %LOCALAPPDATA%\kt560ax\run, in the user's profile.
// An Unwritable error when none of them can be had.
Result<QString> runtimeFolder();

// The user's own folder of the program's settings (a Language.ini of the
// user's): ~/.config/kt560ax, or %APPDATA%\kt560ax on Windows.
QString configFolder();
// The user's own folder of what the program keeps (the job log):
// ~/.local/state/kt560ax, or %LOCALAPPDATA%\kt560ax on Windows.
QString stateFolder();

// Whether this user may make files in `folder`.
bool mayWriteIn(const QString& folder);

} // namespace kt::shell
