// Where the file dialogs of the backup and restore panels open.
#pragma once

#include <QString>

namespace kt::ui {

// The start of a file choice: the folder of the last backup or restore,
// else the folder of the path in the box, else the home folder; with the
// box's file name when a backup is to be saved, or when that file is in
// the folder.
QString browseStart(const QString& box, const QString& lastFolder, bool forSaving);

} // namespace kt::ui
