#include "user_folders.h"

#include "text_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kt::shell {

Status makePrivateFolders(const QString& folder) {
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    // The missing folders, from the top down.
    QStringList missing;
    for (QString path = absolute; !QFileInfo(path).isDir();) {
        missing.prepend(path);
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    for (const QString& path : std::as_const(missing)) {
        errno = 0;
        if (QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
            QFileInfo(path).isDir())
            continue;
        const QString why = QFileInfo::exists(path)
                                ? fillIn(QStringLiteral("%1 is not a folder"), {path})
                                : qt_error_string(errno);
        return Error{ErrorCode::Unwritable,
                     fillIn(QStringLiteral("cannot make the folder %1: %2"), {absolute, why}),
                     absolute};
    }
    return done();
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
