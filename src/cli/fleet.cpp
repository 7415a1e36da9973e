#include "fleet.h"

#include "engine/backup_file.h"
#include "shell/ini_file.h"
#include "shell/text_format.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>

namespace kt::cli {

namespace {

bool takeNumber(const QString& text, int low, int high, int* value) {
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

} // namespace

Fleet parseFleet(const QByteArray& text, const QString& fileName, const QString& fleetFolder) {
    Fleet fleet;
    const auto error = [&](int line, const QString& what) {
        fleet.errors.append(QStringLiteral("%1 line %2: %3").arg(fileName).arg(line).arg(what));
    };
    static const QRegularExpression usableName(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]*$"));
    const QList<QByteArray> lines =
        QByteArray(text).replace("\r\n", "\n").replace('\r', '\n').split('\n');
    FleetController* current = nullptr;
    bool inBadSection = false; // its keys were reported with its header
    QStringList seen;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i) + 1;
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            const QString name =
                line.endsWith(u']') ? line.mid(1, line.size() - 2).trimmed() : QString();
            if (!usableName.match(name).hasMatch()) {
                error(number, QStringLiteral("\"%1\" is not a usable controller name: use letters, "
                                             "digits, '_', '-' and '.'.")
                                  .arg(line));
                current = nullptr;
                inBadSection = true;
                continue;
            }
            inBadSection = false;
            if (seen.contains(name, Qt::CaseInsensitive))
                error(number, QStringLiteral("controller [%1] is named twice.").arg(name));
            seen.append(name);
            FleetController controller;
            controller.name = name;
            controller.folder = fleetFolder;
            controller.line = number;
            fleet.controllers.append(controller);
            current = &fleet.controllers.last();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) {
            error(number,
                  QStringLiteral("\"%1\" is neither [controller] nor Key=value.").arg(line));
            continue;
        }
        if (!current) {
            if (!inBadSection)
                error(number, QStringLiteral("a key before the first [controller] section."));
            continue;
        }
        const QString key = line.left(equals).trimmed().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("port")) {
            current->port = value;
        } else if (key == QLatin1String("address")) {
            if (!takeNumber(value, 1, 99, &current->address))
                error(number, QStringLiteral("Address takes 1 to 99, not \"%1\".").arg(value));
        } else if (key == QLatin1String("cards")) {
            if (!takeNumber(value, 1, engine::kMaxCards, &current->cards))
                error(number, QStringLiteral("Cards takes 1 to %1, not \"%2\".")
                                  .arg(engine::kMaxCards)
                                  .arg(value));
        } else if (key == QLatin1String("only")) {
            current->categories.clear();
            for (const QString& name : value.split(u',', Qt::SkipEmptyParts)) {
                const engine::Category* category = engine::findCategory(name.toUtf8());
                if (!category)
                    error(number,
                          QStringLiteral("there is no category \"%1\".").arg(name.trimmed()));
                else if (!current->categories.contains(category))
                    current->categories.append(category);
            }
            if (current->categories.isEmpty())
                error(number, QStringLiteral("Only names no category."));
        } else if (key == QLatin1String("folder")) {
            // A name that begins with '-' would read as an option.
            if (value.isEmpty() || value.startsWith(u'-'))
                error(number, QStringLiteral("Folder takes a folder, not \"%1\".").arg(value));
            else
                current->folder = QDir(fleetFolder).absoluteFilePath(value);
        } else {
            error(number, QStringLiteral("unknown key \"%1\": use Port, Address, Only, Cards or "
                                         "Folder.")
                              .arg(line.left(equals).trimmed()));
        }
    }
    for (const FleetController& controller : std::as_const(fleet.controllers))
        if (controller.port.isEmpty())
            error(controller.line,
                  QStringLiteral("controller [%1] has no Port.").arg(controller.name));
    if (fleet.controllers.isEmpty() && fleet.errors.isEmpty())
        fleet.errors.append(QStringLiteral("%1: no [controller] section.").arg(fileName));
    return fleet;
}

QStringList backupsToRemove(QList<StoredBackup> backups, int keep, const QString& justMade) {
    // Newest first; among equal times, by name.
    std::sort(backups.begin(), backups.end(), [](const StoredBackup& a, const StoredBackup& b) {
        return a.made != b.made ? a.made > b.made : a.name > b.name;
    });
    QStringList doomed;
    int completeSeen = 0;
    for (const StoredBackup& backup : std::as_const(backups)) {
        if (backup.name == justMade) {
            completeSeen += backup.complete ? 1 : 0;
            continue;
        }
        if (backup.complete) {
            if (++completeSeen > keep)
                doomed.append(backup.name);
        } else if (completeSeen > 0) {
            doomed.append(backup.name); // a stopped backup older than a complete one
        }
    }
    return doomed;
}

namespace {

const QRegularExpression& backupName() {
    static const QRegularExpression name(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d{6})(-\\d+)?\\.KT$"));
    return name;
}

} // namespace

QList<StoredBackup> storedBackups(const QString& folder) {
    QList<StoredBackup> backups;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch match = backupName().match(name);
        if (!match.hasMatch())
            continue;
        const engine::Manifest manifest = engine::readManifest(QDir(folder).filePath(name));
        StoredBackup backup{name, manifest.complete.value_or(false)};
        backup.made = backup.complete ? manifest.finishedAt() : manifest.startedAt();
        if (!backup.made.isValid())
            backup.made =
                QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd_HHmmss"));
        backups.append(backup);
    }
    return backups;
}

QString claimBackupName(const QString& folder, const QString& stamp) {
    for (int n = 1; n <= 1000; ++n) {
        const QString file = QDir(folder).filePath(
            stamp + (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + QStringLiteral(".KT"));
        switch (engine::createNewBackupFile(file)) {
        case engine::NewFile::Created:
            return file;
        case engine::NewFile::Exists:
            continue;
        case engine::NewFile::Failed:
            return {};
        }
    }
    return {};
}

} // namespace kt::cli
