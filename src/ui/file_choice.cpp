#include "file_choice.h"

#include <QDir>
#include <QFileInfo>

namespace kt::ui {

QString browseStart(const QString& box, const QString& lastFolder, bool forSaving) {
    const QFileInfo boxed(box.trimmed());
    QString folder = lastFolder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = !box.trimmed().isEmpty() && boxed.absoluteDir().exists() ? boxed.absolutePath()
                                                                          : QDir::homePath();
    const QString name = boxed.fileName();
    const QString file = QDir(folder).filePath(name);
    return !name.isEmpty() && (forSaving || QFileInfo::exists(file)) ? file : folder;
}

} // namespace kt::ui
