#include "fleet_status.h"

#include "backup_folder.h"
#include "engine/record_compare.h"
#include "record_changes.h"

#include <QDir>
#include <QFileInfo>

namespace kt::fleet {

namespace {

QString folderOf(const QString& file) {
    const QFileInfo info(file);
    const QString canonical = QFileInfo(info.absolutePath()).canonicalFilePath();
    return canonical.isEmpty() ? info.absolutePath() : canonical;
}

} // namespace

QList<ControllerStatus> fleetStatus(const Fleet& fleet, const QList<QJsonObject>& log,
                                    const QDateTime& now) {
    QList<ControllerStatus> states;
    for (const FleetController& controller : fleet.controllers) {
        ControllerStatus status;
        status.name = controller.name;
        const QString folder = controller.backupFolder();
        const StoredBackup newest = newestComplete(storedBackups(folder));
        if (!newest.name.isEmpty()) {
            status.lastComplete = QDir(folder).filePath(newest.name);
            status.lastCompleteAt = newest.made;
            status.ageSeconds = qMax<qint64>(0, newest.made.secsTo(now));
            const RecordChanges counts =
                changesBetween({}, engine::readBackupRecords(status.lastComplete), true);
            status.cards = counts.cards;
            status.records = counts.records;
            status.stale = status.ageSeconds > fleet.settings.maxAgeSeconds;
        }
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        const QString home = canonical.isEmpty() ? QDir(folder).absolutePath() : canonical;
        bool successSeen = false;
        for (auto entry = log.crbegin(); entry != log.crend() && !successSeen; ++entry) {
            if (entry->value("direction").toString() != QLatin1String("save") ||
                folderOf(entry->value("file").toString()) != home)
                continue;
            const QString outcome = entry->value("outcome").toString();
            if (status.lastOutcome.isEmpty())
                status.lastOutcome = outcome;
            if (outcome == QLatin1String("finished"))
                successSeen = true;
            else
                ++status.failuresSinceSuccess;
        }
        states.append(status);
    }
    return states;
}

QJsonObject statusJson(const ControllerStatus& status) {
    QJsonObject json{{"controller", status.name},
                     {"stale", status.stale},
                     {"fine", status.fine()},
                     {"lastOutcome", status.lastOutcome},
                     {"failuresSinceSuccess", status.failuresSinceSuccess}};
    if (!status.lastComplete.isEmpty()) {
        json.insert("lastComplete", status.lastComplete);
        json.insert("lastCompleteAt", status.lastCompleteAt.toString(Qt::ISODate));
        json.insert("ageSeconds", status.ageSeconds);
        json.insert("cards", status.cards);
        json.insert("records", status.records);
    }
    return json;
}

QString ageText(qint64 seconds) {
    if (seconds < 3600)
        return QStringLiteral("%1 min").arg(seconds / 60);
    if (seconds < 86400)
        return QStringLiteral("%1 h").arg(seconds / 3600);
    return QStringLiteral("%1 d %2 h").arg(seconds / 86400).arg(seconds % 86400 / 3600);
}

} // namespace kt::fleet
