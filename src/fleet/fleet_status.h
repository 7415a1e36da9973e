// The state of each controller of a fleet, from its backup folder and the
// job log, so that it holds across reboots: its last complete backup, how
// its last jobs ended, and whether it is stale.
#pragma once

#include "fleet_file.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>

namespace kt::fleet {

struct ControllerStatus {
    QString name;
    QString lastComplete; // the main file of its last complete backup; empty: none
    QDateTime lastCompleteAt;
    qint64 ageSeconds = -1; // of the last complete backup; -1: none
    int cards = 0;          // card slots that hold a card in it
    int records = 0;
    QString lastOutcome; // of its last backup job in the log; empty: none logged
    int failuresSinceSuccess = 0;
    bool stale = true;

    // Fresh, and its last job (if the log has one) finished.
    bool fine() const { return !stale && (lastOutcome.isEmpty() || lastOutcome == "finished"); }
};

// `log` is the job log's entries, oldest first, as JobLog::last gives them.
QList<ControllerStatus> fleetStatus(const Fleet& fleet, const QList<QJsonObject>& log,
                                    const QDateTime& now);

QJsonObject statusJson(const ControllerStatus& status);

// "5 h", "3 d 4 h", "12 min".
QString ageText(qint64 seconds);

} // namespace kt::fleet
