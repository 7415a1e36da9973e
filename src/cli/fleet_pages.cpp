#include "fleet_pages.h"

#include "command_support.h"
#include "engine/job_log.h"
#include "fleet/exit_status.h"
#include "fleet/fleet_status.h"
#include "fleet/metrics.h"
#include "fleet/report_page.h"
#include "fleet_command.h"
#include "shell/language.h"
#include "shell/regular_file.h"

namespace kt::cli {

namespace {

// Job log lines read for a fleet's pages: far more than 30 versions of
// hundreds of controllers.
constexpr int kLogEntriesRead = 20000;

} // namespace

bool writeReport(const fleet::Fleet& fleet, const QString& page, const CliOptions& options,
                 const QString& iniFile) {
    std::unique_ptr<fleet::History> history;
    if (!fleet.settings.history.isEmpty()) {
        history = std::make_unique<fleet::History>();
        if (const shell::Status opened =
                history->open(fleet.settings.history, fleet::History::Mode::Read);
            !opened) {
            complain(QStringLiteral("the report: the history: %1; the card counts come from the "
                                    "job log.")
                         .arg(opened.error().message));
            history.reset();
        }
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QList<fleet::ReportRow> rows =
        fleet::reportRows(fleet, engine::JobLog().last(kLogEntriesRead), history.get(), now);
    const QByteArray section = languageOf(options);
    const QString tags[] = {QStringLiteral("en"), QStringLiteral("zh-Hant"),
                            QStringLiteral("zh-Hans")};
    const QString tag = tags[qBound(0, options.settings.intLanguage, 2)];
    const QByteArray html = fleet::reportPage(
        rows, [&](const char* key) { return shell::languageText(iniFile, section, key); }, tag,
        now);
    if (const shell::Status written = shell::replaceFile(page, html); !written) {
        complain(QStringLiteral("the report: %1.").arg(written.error().message));
        return false;
    }
    return true;
}

int runReport(const CliOptions& options, const QString& iniFile) {
    if (options.output.isEmpty()) {
        complain(QStringLiteral("report needs -o PAGE, the file to write.\nkt560ax --help lists "
                                "the commands and options."));
        return kUsage;
    }
    const shell::Result<fleet::Fleet> read = readFleet(options.files[0]);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    return writeReport(*read, options.output, options, iniFile) ? kDone : kFileError;
}

bool writeMetrics(const fleet::Fleet& fleet, const QList<fleet::ControllerRun>& runs, int changed,
                  int failed, const QString& file) {
    const QDateTime now = QDateTime::currentDateTime();
    const QList<fleet::ControllerStatus> states =
        fleet::fleetStatus(fleet, engine::JobLog().last(kLogEntriesRead), now);
    QList<fleet::MetricsRow> rows;
    for (qsizetype i = 0; i < runs.size(); ++i) {
        const QJsonObject& summary = runs[i].summary;
        fleet::MetricsRow row;
        row.controller = runs[i].controller->name;
        row.lastComplete = states[i].lastCompleteAt;
        row.seconds = summary.value("seconds").toDouble();
        row.records = summary.value("records").toInt();
        row.cards = summary.value("cards").toInt();
        row.failedTries = summary.value("failedTries").toInt();
        row.tries = runs[i].tries;
        row.outcome = fleet::outcomeOf(runs[i]);
        row.stale = states[i].stale;
        rows.append(row);
    }
    const shell::Status written =
        shell::replaceFile(file, fleet::metricsText(rows, changed, failed, now));
    if (!written)
        complain(QStringLiteral("the metrics: %1.").arg(written.error().message));
    return written.ok();
}

} // namespace kt::cli
