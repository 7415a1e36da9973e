#include "system_paths.h"

namespace kt::test {

QFile::Permissions othersMay(const QString& path) {
    return QFile::permissions(path) & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                       QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
}

} // namespace kt::test
