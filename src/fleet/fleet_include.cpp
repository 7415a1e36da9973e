#include "fleet_include.h"

#include "shell/regular_file.h"
#include "shell/text_format.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace kt::fleet {

shell::Result<QList<FleetText>> readIncludedFiles(const QString& pattern,
                                                  const QString& fleetFile) {
    const auto refused = [&](const QString& why) {
        return shell::Error{shell::ErrorCode::Invalid, why, fleetFile};
    };
    const QString path = QDir::fromNativeSeparators(pattern);
    const QString folder = path.left(path.lastIndexOf(u'/') + 1); // with its '/'; empty: none
    const QString name = path.mid(folder.size());
    static const QRegularExpression wildcard(QStringLiteral("[*?\\[]"));
    if (folder.contains(wildcard))
        return refused(
            QStringLiteral("Include takes wildcards in the file name only, not in \"%1\".")
                .arg(pattern));
    if (name.isEmpty())
        return refused(QStringLiteral("Include takes files, not the folder \"%1\".").arg(pattern));
    // The folder as the fleet file's name gives it, so that messages name
    // each file in the same words.
    const QString shownFolder =
        QDir::isAbsolutePath(folder) ? folder : QFileInfo(fleetFile).path() + u'/' + folder;
    QStringList names{name};
    if (name.contains(wildcard)) {
        names = QDir(shownFolder).entryList({name}, QDir::Files);
        std::sort(names.begin(), names.end());
        const QString own = QFileInfo(fleetFile).canonicalFilePath();
        names.removeIf([&](const QString& found) {
            return QFileInfo(shownFolder + found).canonicalFilePath() == own;
        });
    }
    if (names.isEmpty())
        return refused(QStringLiteral("Include=%1 names no file.").arg(pattern));
    if (names.size() > kMaxIncludedFiles)
        return refused(shell::fillIn(
            QStringLiteral("Include=%1 names %2 files, more than the %3 "
                           "that a fleet file may include."),
            {pattern, QString::number(names.size()), QString::number(kMaxIncludedFiles)}));
    QList<FleetText> files;
    qint64 total = 0;
    for (const QString& found : names) {
        const QString shown = QDir::cleanPath(shownFolder + found);
        shell::Result<QByteArray> text = shell::readRegularFile(shown, kMaxFleetBytes);
        if (!text)
            return text.error();
        total += text->size();
        if (total > kMaxIncludedBytes)
            return refused(shell::fillIn(
                QStringLiteral("the files that Include=%1 names hold more than %2 MB in all "
                               "(reached at %3)."),
                {pattern, QString::number(kMaxIncludedBytes / (1024 * 1024)), shown}));
        files.append({shown, std::move(*text)});
    }
    return files;
}

} // namespace kt::fleet
