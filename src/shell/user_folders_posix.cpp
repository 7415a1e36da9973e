#include "user_folders.h"

#include "text_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace kt::shell {

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

Result<QString> runtimeFolder() {
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
}

QString configFolder() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/kt560ax");
}

QString stateFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/kt560ax");
}

bool mayWriteIn(const QString& folder) {
    return QFileInfo(folder).isWritable();
}

} // namespace kt::shell
