#include "system_paths.h"

namespace kt::test {

// The program's private files live in the user's profile, whose folders
// only that user may open; Qt reads no permissions but the read-only mark.
QFile::Permissions othersMay(const QString&) {
    return {};
}

} // namespace kt::test
