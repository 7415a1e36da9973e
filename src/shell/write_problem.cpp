#include "write_problem.h"

#include "text_format.h"

#include <QDir>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace kt::shell {

const char* writeProblemKey(const QString& path) {
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.isDir())
        return "FileNoFolder";
#ifndef Q_OS_WIN
    const QByteArray local = QFile::encodeName(folder.absoluteFilePath());
    struct statvfs medium {};
    if (::statvfs(local.constData(), &medium) == 0) {
        if (medium.f_flag & ST_RDONLY)
            return "FileReadOnly";
        if (medium.f_bavail == 0)
            return "FileDiskFull";
    }
    if (::access(local.constData(), W_OK | X_OK) != 0)
        return "FileFolderDenied";
#endif
    return nullptr;
}

QString writeProblem(const QString& path, const std::function<QString(const char*)>& text) {
    const char* key = writeProblemKey(path);
    if (!key)
        return {};
    return fillIn(text(key), {QDir::toNativeSeparators(QFileInfo(path).absolutePath())});
}

} // namespace kt::shell
