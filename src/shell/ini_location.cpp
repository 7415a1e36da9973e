#include "ini_location.h"

#include "language.h"
#include "user_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kt::shell {

Result<QString> locateLanguageIni(const QString& programDir) {
    const QDir program(programDir);
    const QFileInfo beside(program.filePath(QStringLiteral("Language.ini")));
    if (beside.isFile() && mayWriteIn(programDir))
        return beside.filePath();

    const QString folder = configFolder();
    const QString own = QDir(folder).filePath(QStringLiteral("Language.ini"));
    if (QFileInfo(own).isFile())
        return own;

    // The first start of this user: a copy of the shipped file, or of the
    // one beside a program whose folder is not writable.
    QString shipped = beside.isFile()
                          ? beside.filePath()
                          : program.filePath(QStringLiteral("../share/kt560ax/Language.ini"));
    if (!QFileInfo(shipped).isFile())
        shipped = shippedIniFile();
    QFile source(shipped);
    QByteArray text;
    if (source.open(QIODevice::ReadOnly))
        text = source.readAll();
    // Private: it maps each COMn to a device or a server, and whoever could
    // change that would receive the next restore's cards.
    if (!QDir().mkpath(folder))
        return Error{ErrorCode::Unwritable,
                     QStringLiteral("Language.ini cannot be created: the folder %1 cannot be made")
                         .arg(folder),
                     folder};
    QFile copy(own);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFile::ReadOwner | QFile::WriteOwner) ||
        copy.write(text) != text.size() || !copy.flush())
        return Error{ErrorCode::Unwritable,
                     QStringLiteral("Language.ini cannot be created in %1: %2")
                         .arg(folder, copy.errorString()),
                     folder};
    return own;
}

} // namespace kt::shell
