#include "user_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kt::shell {

bool makePrivateFolders(const QString& folder) {
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    if (QFileInfo(absolute).isDir())
        return true;
    const QString parent = QFileInfo(absolute).absolutePath();
    if (parent != absolute && !makePrivateFolders(parent))
        return false;
    return QDir().mkdir(absolute, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
           QFileInfo(absolute).isDir();
}

#ifdef Q_OS_UNIX
namespace {

// A real folder (no link) of this user's, made private when it was not.
bool isOwnPrivateFolder(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        return false;
    return (info.st_mode & 077) == 0 || ::chmod(path.constData(), 0700) == 0;
}

} // namespace
#endif

Result<QString> runtimeFolder() {
#ifdef Q_OS_UNIX
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isOwnPrivateFolder(runtime))
        return runtime;
    const QString own =
        QDir(QDir::tempPath()).filePath(QStringLiteral("kt560ax-%1").arg(::getuid()));
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    if (isOwnPrivateFolder(own))
        return own;
    // Another user took that name: the user's own cache folder instead.
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    const QString home = cache + QStringLiteral("/kt560ax");
    if (makePrivateFolders(home) && isOwnPrivateFolder(home))
        return home;
    return Error{ErrorCode::Unwritable,
                 QStringLiteral("neither %1 nor %2 can be a private folder of this user's; set "
                                "XDG_RUNTIME_DIR to a folder of your own")
                     .arg(own, home)};
#else
    return QDir::tempPath();
#endif
}

} // namespace kt::shell
