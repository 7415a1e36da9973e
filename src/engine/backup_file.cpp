#include "backup_file.h"

namespace kt::engine {

QString cardFile(const QString& mainFile, int index) {
    if (index < 2000)
        return mainFile;
    const int tag = index / 2000 * 2;
    qsizetype slash = mainFile.lastIndexOf(u'/');
#ifdef Q_OS_WIN
    slash = std::max({slash, mainFile.lastIndexOf(u'\\'), mainFile.lastIndexOf(u':')});
#endif
    return mainFile.left(slash + 1) + QString::number(tag) + mainFile.mid(slash + 1);
}

} // namespace kt::engine
