#include "write_problem.h"

#include <QFile>

#include <sys/statvfs.h>
#include <unistd.h>

namespace kt::shell {

const char* mediumProblemKey(const QString& folder) {
    const QByteArray local = QFile::encodeName(folder);
    struct statvfs medium {};
    if (::statvfs(local.constData(), &medium) == 0) {
        if (medium.f_flag & ST_RDONLY)
            return "FileReadOnly";
        if (medium.f_bavail == 0)
            return "FileDiskFull";
    }
    if (::access(local.constData(), W_OK | X_OK) != 0)
        return "FileFolderDenied";
    return nullptr;
}

} // namespace kt::shell
