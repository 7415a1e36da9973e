// The files of controllers' sections that a fleet file takes in with
// Include= in [fleet], so that a large site keeps one file per building.
#pragma once

#include "fleet_file.h"

namespace kt::fleet {

// At most this many files are included, and at most this much text in all:
// far more than any site needs, little enough to read at once.
inline constexpr int kMaxIncludedFiles = 1000;
inline constexpr qint64 kMaxIncludedBytes = 16LL * 1024 * 1024;

// The files that `pattern` names, read whole, in name order. A relative
// pattern is taken from the folder of `fleetFile`; its file name may hold
// the wildcards * ? and [...], its folders may not. Hidden files, and the
// fleet file itself, are never taken. Each file is named as messages name
// it: beside the fleet file's name as it was given. An error (a wildcard
// in a folder, no file, too many files or too much text, a file that cannot
// be read) says what is wrong without naming the Include line, which the
// caller does.
shell::Result<QList<FleetText>> readIncludedFiles(const QString& pattern, const QString& fleetFile);

} // namespace kt::fleet
