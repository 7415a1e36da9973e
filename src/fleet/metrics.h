// The metrics of a fleet's last run in the text format of node_exporter's
// textfile collector, for the monitoring that sites already run.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace kt::fleet {

struct MetricsRow {
    QString controller;
    QDateTime lastComplete; // of its last complete backup; invalid: none
    double seconds = 0;     // of the last job
    int records = 0;
    int cards = 0;
    int failedTries = 0; // requests of the last job that were tried again
    int tries = 0;       // jobs this run started for it
    QString outcome;     // of the last job, as the job log names it
    bool stale = true;
};

// One gauge per value, labelled by controller; then the run's own.
QByteArray metricsText(const QList<MetricsRow>& controllers, int changed, int failed,
                       const QDateTime& runEnded);

} // namespace kt::fleet
