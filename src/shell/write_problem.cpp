#include "write_problem.h"

#include "text_format.h"

#include <QDir>
#include <QFileInfo>

namespace kt::shell {

const char* writeProblemKey(const QString& path) {
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.isDir())
        return "FileNoFolder";
    return mediumProblemKey(folder.absoluteFilePath());
}

QString writeProblem(const QString& path, const std::function<QString(const char*)>& text) {
    const char* key = writeProblemKey(path);
    if (!key)
        return {};
    return fillIn(text(key), {QDir::toNativeSeparators(QFileInfo(path).absolutePath())});
}

} // namespace kt::shell
