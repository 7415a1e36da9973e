#include "fleet_state_commands.h"

#include "command_support.h"
#include "engine/job_log.h"
#include "engine/record_compare.h"
#include "fleet/exit_status.h"
#include "fleet/fleet_status.h"
#include "fleet/history.h"
#include "fleet/record_changes.h"
#include "fleet_command.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace kt::cli {

namespace {

// Job log lines read for the state of a fleet: far more than the failures
// anyone needs counted.
constexpr int kLogEntriesRead = 20000;

} // namespace

int runStatus(const CliOptions& options) {
    const shell::Result<fleet::Fleet> read = readFleet(options.files[0]);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QList<fleet::ControllerStatus> states =
        fleet::fleetStatus(*read, engine::JobLog().last(kLogEntriesRead), now);
    bool allFine = true;
    for (const fleet::ControllerStatus& s : states)
        allFine = allFine && s.fine();
    const int status = allFine ? kDone : kDifferences;
    if (options.json) {
        QJsonArray controllers;
        for (const fleet::ControllerStatus& s : states)
            controllers.append(fleet::statusJson(s));
        std::printf("%s\n",
                    QJsonDocument(QJsonObject{{"command", "status"},
                                              {"maxAgeSeconds", read->settings.maxAgeSeconds},
                                              {"controllers", controllers},
                                              {"exitStatus", status}})
                        .toJson(QJsonDocument::Compact)
                        .constData());
        return status;
    }
    std::printf("%-20s %-6s %-16s %-10s %-20s %8s %6s %8s\n", "controller", "state",
                "last complete", "age", "last outcome", "failures", "cards", "records");
    for (const fleet::ControllerStatus& s : states) {
        const bool none = s.lastComplete.isEmpty();
        std::printf("%-20s %-6s %-16s %-10s %-20s %8d %6s %8s\n", qPrintable(s.name),
                    s.fine() ? "ok" : (s.stale ? "STALE" : "FAILED"),
                    none ? "none" : qPrintable(s.lastCompleteAt.toString("yyyy-MM-dd HH:mm")),
                    none ? "-" : qPrintable(fleet::ageText(s.ageSeconds)),
                    s.lastOutcome.isEmpty() ? "-" : qPrintable(s.lastOutcome),
                    s.failuresSinceSuccess, none ? "-" : qPrintable(QString::number(s.cards)),
                    none ? "-" : qPrintable(QString::number(s.records)));
    }
    return status;
}

int runHistory(const CliOptions& options) {
    const shell::Result<fleet::Fleet> read = readFleet(options.files[0]);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    const QString section = options.files[1];
    if (read->settings.history.isEmpty()) {
        complain(QStringLiteral("%1 has no History in [fleet].").arg(options.files[0]));
        return kFileError;
    }
    if (std::none_of(read->controllers.cbegin(), read->controllers.cend(),
                     [&](const fleet::FleetController& c) { return c.name == section; })) {
        complain(QStringLiteral("%1 has no controller [%2].").arg(options.files[0], section));
        return kUsage;
    }
    fleet::History history;
    if (const shell::Status opened =
            history.open(read->settings.history, fleet::History::Mode::Read);
        !opened) {
        complain(QStringLiteral("the history: %1.").arg(opened.error().message));
        return kFileError;
    }
    const QList<fleet::HistoryVersion> versions = history.versions(section);
    if (options.exportVersion > 0) {
        if (options.exportVersion > versions.size()) {
            complain(QStringLiteral("[%1] has %2 versions, not %3.")
                         .arg(section)
                         .arg(versions.size())
                         .arg(options.exportVersion));
            return kUsage;
        }
        const shell::Result<QString> written =
            history.exportVersion(section, versions[options.exportVersion - 1], options.files[2]);
        if (!written) {
            complain(written.error().message + '.');
            return kFileError;
        }
        std::printf("%s\n", qPrintable(*written));
        return kDone;
    }
    std::printf("%7s  %-25s %6s %8s  %s\n", "version", "date", "cards", "records", "changes");
    for (const fleet::HistoryVersion& version : versions) {
        const auto [cards, records] = fleet::countsOfLine(version.changes);
        const auto count = [](int n) { return n < 0 ? QStringLiteral("-") : QString::number(n); };
        std::printf("%7d  %-25s %6s %8s  %s\n", version.number,
                    qPrintable(version.when.toString(Qt::ISODate)), qPrintable(count(cards)),
                    qPrintable(count(records)), qPrintable(version.changes));
    }
    return kDone;
}

} // namespace kt::cli
