#include "metrics.h"

#include <functional>

namespace kt::fleet {

namespace {

// A label value with backslash, double quote and line feed escaped.
QByteArray labelValue(const QString& text) {
    QByteArray value = text.toUtf8();
    value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return value;
}

QByteArray number(double value) {
    return QByteArray::number(value, 'g', 15);
}

} // namespace

QByteArray metricsText(const QList<MetricsRow>& controllers, int changed, int failed,
                       const QDateTime& runEnded) {
    QByteArray text;
    const auto gauge = [&](const char* name, const char* help,
                           const std::function<QByteArray(const MetricsRow&)>& value) {
        text += QByteArray("# HELP kt560ax_") + name + ' ' + help + "\n# TYPE kt560ax_" + name +
                " gauge\n";
        for (const MetricsRow& c : controllers) {
            const QByteArray v = value(c);
            if (!v.isNull())
                text += QByteArray("kt560ax_") + name + "{controller=\"" +
                        labelValue(c.controller) + "\"} " + v + '\n';
        }
    };
    gauge("last_complete_backup_timestamp_seconds",
          "Time of the controller's last complete backup.", [](const MetricsRow& c) {
              return c.lastComplete.isValid() ? number(c.lastComplete.toSecsSinceEpoch())
                                              : QByteArray();
          });
    gauge("last_job_duration_seconds", "Duration of the controller's last backup job.",
          [](const MetricsRow& c) { return number(c.seconds); });
    gauge("last_job_records", "Records stored by the controller's last backup job.",
          [](const MetricsRow& c) { return number(c.records); });
    gauge("last_job_cards", "Card slots read by the controller's last backup job.",
          [](const MetricsRow& c) { return number(c.cards); });
    gauge("last_job_failed_tries", "Requests of the last backup job that had to be sent again.",
          [](const MetricsRow& c) { return number(c.failedTries); });
    gauge("last_run_tries", "Backup jobs the last run started for the controller.",
          [](const MetricsRow& c) { return number(c.tries); });
    gauge("last_job_success", "1 when the controller's last backup job finished, else 0.",
          [](const MetricsRow& c) {
              return QByteArray(c.outcome == QLatin1String("finished") ? "1" : "0");
          });
    gauge("stale", "1 when the controller's last complete backup is too old or missing.",
          [](const MetricsRow& c) { return QByteArray(c.stale ? "1" : "0"); });
    text += "# HELP kt560ax_last_job_outcome The outcome of the controller's last backup job.\n"
            "# TYPE kt560ax_last_job_outcome gauge\n";
    for (const MetricsRow& c : controllers)
        text += "kt560ax_last_job_outcome{controller=\"" + labelValue(c.controller) +
                "\",outcome=\"" + labelValue(c.outcome.isEmpty() ? "none" : c.outcome) + "\"} 1\n";
    const auto runGauge = [&](const char* name, const char* help, const QByteArray& value) {
        text += QByteArray("# HELP kt560ax_") + name + ' ' + help + "\n# TYPE kt560ax_" + name +
                " gauge\nkt560ax_" + name + ' ' + value + '\n';
    };
    runGauge("run_controllers_changed", "Controllers whose records changed in the last run.",
             number(changed));
    runGauge("run_controllers_failed", "Controllers whose backup failed in the last run.",
             number(failed));
    runGauge("run_end_timestamp_seconds", "Time the last run ended.",
             number(runEnded.toSecsSinceEpoch()));
    return text;
}

} // namespace kt::fleet
