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

QByteArray metricsText(const QString& fleet, const QList<ControllerView>& controllers,
                       const FleetState& state, const QDateTime& now) {
    QByteArray text;
    const QByteArray fleetLabel = "fleet=\"" + labelValue(fleet) + '"';
    const auto head = [&](const char* name, const char* help) {
        text += QByteArray("# HELP kt560ax_") + name + ' ' + help + "\n# TYPE kt560ax_" + name +
                " gauge\n";
    };
    const auto line = [&](const char* name, const ControllerView& c, const QByteArray& labels,
                          const QByteArray& value) {
        text += QByteArray("kt560ax_") + name + '{' + fleetLabel + ",controller=\"" +
                labelValue(c.controller->name) + '"' + labels + "} " + value + '\n';
    };
    // A gauge of the controllers with a record; `value` may leave one out
    // with a null text.
    const auto gauge =
        [&](const char* name, const char* help,
            const std::function<QByteArray(const ControllerRecord&, const ControllerView&)>&
                value) {
            head(name, help);
            for (const ControllerView& c : controllers)
                if (c.record)
                    if (const QByteArray v = value(*c.record, c); !v.isNull())
                        line(name, c, {}, v);
        };
    head("state", "1 for the controller's state: failing, suspicious, never-backed-up, stale, "
                  "unknown, changed or fine.");
    for (const ControllerView& c : controllers)
        line("state", c, QByteArray(",state=\"") + wordsOf(c.state).id + '"', "1");
    gauge("last_complete_backup_timestamp_seconds",
          "Time of the controller's last complete backup (none when its clock was ahead).",
          [](const ControllerRecord&, const ControllerView& c) {
              return c.ageSeconds >= 0 ? number(c.record->lastCompleteAt.toSecsSinceEpoch())
                                       : QByteArray();
          });
    gauge("last_job_duration_seconds", "Duration of the controller's last backup job.",
          [](const ControllerRecord& r, const ControllerView&) { return number(r.seconds); });
    gauge("last_job_records", "Records stored by the controller's last backup job.",
          [](const ControllerRecord& r, const ControllerView&) { return number(r.jobRecords); });
    gauge("last_job_cards", "Card slots read by the controller's last backup job.",
          [](const ControllerRecord& r, const ControllerView& c) {
              return r.readsCards ? number(c.controller->cards) : QByteArray();
          });
    gauge("cards", "Card slots that hold a card in the controller's last complete backup.",
          [](const ControllerRecord& r, const ControllerView&) {
              return r.readsCards && !r.lastComplete.isEmpty() ? number(r.cards) : QByteArray();
          });
    gauge("last_job_failed_tries", "Requests of the last backup job that had to be sent again.",
          [](const ControllerRecord& r, const ControllerView&) { return number(r.failedTries); });
    gauge("last_run_tries", "Backup jobs the last run started for the controller.",
          [](const ControllerRecord& r, const ControllerView&) { return number(r.tries); });
    gauge("failures", "Failed tries since the controller's last complete backup job.",
          [](const ControllerRecord& r, const ControllerView&) { return number(r.failures); });
    gauge("last_job_success", "1 when the controller's last backup job finished, else 0.",
          [](const ControllerRecord& r, const ControllerView&) {
              return QByteArray(r.outcome == engine::JobOutcome::Finished ? "1" : "0");
          });
    head("last_job_outcome", "The outcome of the controller's last backup job.");
    for (const ControllerView& c : controllers)
        if (c.record)
            line("last_job_outcome", c,
                 QByteArray(",outcome=\"") + engine::wordsOf(c.record->outcome).id + '"', "1");
    int changed = 0, failed = 0;
    for (const ControllerView& c : controllers) {
        changed += c.record && c.record->changed ? 1 : 0;
        failed += c.record && c.record->outcome != engine::JobOutcome::Finished ? 1 : 0;
    }
    const auto runGauge = [&](const char* name, const char* help, const QByteArray& value) {
        head(name, help);
        text += QByteArray("kt560ax_") + name + '{' + fleetLabel + "} " + value + '\n';
    };
    // Times of the run that lie ahead of now are not given.
    const auto runTime = [&](const char* name, const char* help, const QDateTime& time) {
        if (time.isValid() && time.secsTo(now) >= -kClockToleranceSeconds)
            runGauge(name, help, number(time.toSecsSinceEpoch()));
    };
    runGauge("run_controllers_changed", "Controllers whose records changed in their last run.",
             number(changed));
    runGauge("run_controllers_failed", "Controllers whose last backup job failed.", number(failed));
    runGauge("push_failures_in_a_row", "The last runs in a row whose push of the history failed.",
             number(state.pushFailures));
    runTime("last_push_success_timestamp_seconds",
            "Time the history last went through to its remote.", state.lastPushSuccess);
    runTime("run_end_timestamp_seconds", "Time the last run ended.", state.lastRun);
    return text;
}

} // namespace kt::fleet
