#include "job_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

namespace kt::engine {

QString JobLog::defaultPath() {
#ifdef Q_OS_WIN
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#else
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString folder = state + QStringLiteral("/kt560ax");
#endif
    return folder + QStringLiteral("/jobs.log");
}

bool JobLog::append(const QJsonObject& entry, QString* error) const {
    if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
        *error = QStringLiteral("cannot create the folder of %1").arg(path_);
        return false;
    }
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
        return false;
    }
    // One write of the whole line, so that jobs running side by side never
    // interleave their lines.
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    if (file.write(line) != line.size() || !file.flush()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
        return false;
    }
    return true;
}

QList<QJsonObject> JobLog::last(int count) const {
    QFile file(path_);
    QList<QJsonObject> entries;
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            entries.append(document.object());
    }
    return entries.mid(std::max<qsizetype>(0, entries.size() - count));
}

} // namespace kt::engine
