#include "user_folders.h"

#include "text_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>

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

} // namespace kt::shell
