#include "fleet_command.h"

#include "command_support.h"
#include "engine/job_log.h"
#include "engine/record_compare.h"
#include "fleet/backup_folder.h"
#include "fleet/exit_status.h"
#include "fleet/fleet_runner.h"
#include "fleet/history.h"
#include "fleet/hooks.h"
#include "fleet/record_changes.h"
#include "fleet_pages.h"
#include "shell/regular_file.h"
#include "shell/text_format.h"
#include "signal_watch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <cstdio>

namespace kt::cli {

using fleet::ControllerRun;
using fleet::RecordChanges;

namespace {

QStringList jobArguments(const CliOptions& options) {
    const auto number = [](float value) {
        return QString::fromLatin1(shell::shortestDecimal(value));
    };
    return {QStringLiteral("--settings"), QString::fromLatin1(options.settings.strSettings),
            QStringLiteral("--tx-delay"), number(options.settings.sngTxDelay),
            QStringLiteral("--rx-delay"), number(options.settings.sngRxDelay),
            QStringLiteral("--timeout"),  number(options.settings.sngRxTimeOut),
            QStringLiteral("--quiet"),    QStringLiteral("--json")};
}

// A remote's address without a user name or password in it.
QString shownRemote(const QString& remote) {
    const QUrl url(remote);
    return url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1
               ? url.toString(QUrl::RemoveUserInfo)
               : remote;
}

QString plural(qsizetype count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

// What a run found, for the commit, the table, the hooks and the JSON.
struct RunReport {
    QList<ControllerRun> runs;
    QList<RecordChanges> changes; // of each run; empty unless complete
    QList<int> changed;           // indexes of runs whose records changed
    QList<int> failed;            // indexes of runs that did not finish
    QString historyProblem;
    QString pushProblem;
    bool committed = false;
    QStringList pageProblems; // the report or metrics that could not be written
    int status = kDone;

    QString headline() const {
        return plural(changed.size(), "controller changed", "controllers changed") +
               QStringLiteral(", %1 failed").arg(failed.size());
    }
    QString changeLine(int i) const {
        return fleet::describeChanges(runs[i].controller->name, changes[i]);
    }
    QString failureLine(int i) const {
        return QStringLiteral("%1: %2 after %3")
            .arg(runs[i].controller->name, fleet::outcomeOf(runs[i]),
                 plural(runs[i].tries, "try", "tries"));
    }
    QString summary() const {
        QStringList lines{headline()};
        for (const int i : changed)
            lines.append(changeLine(i));
        for (const int i : failed)
            lines.append(failureLine(i));
        if (!historyProblem.isEmpty())
            lines.append(QStringLiteral("history: ") + historyProblem);
        if (!pushProblem.isEmpty())
            lines.append(QStringLiteral("push: ") + pushProblem);
        return lines.join(u'\n');
    }
    int total(QList<int> RecordChanges::*list) const {
        int count = 0;
        for (const int i : changed)
            count += int((changes[i].*list).size());
        return count;
    }
};

// Compares each finished backup with the controller's last version, the
// committed one when there is a history, and commits those that changed.
void recordChanges(RunReport& report, fleet::History* history, const fleet::Fleet& fleet) {
    for (qsizetype i = 0; i < report.runs.size(); ++i) {
        const ControllerRun& run = report.runs[i];
        report.changes.append(RecordChanges());
        if (!run.complete()) {
            report.failed.append(int(i));
            continue;
        }
        QString before;
        if (history) {
            before = history->committedFile(run.controller->name);
        } else {
            const QString folder = QFileInfo(run.file).absolutePath();
            const fleet::StoredBackup last =
                fleet::newestComplete(fleet::storedBackups(folder), QFileInfo(run.file).fileName());
            if (!last.name.isEmpty())
                before = QDir(folder).filePath(last.name);
        }
        report.changes[i] = fleet::changesBetween(
            before.isEmpty() ? QMap<QByteArray, QByteArray>{} : engine::readBackupRecords(before),
            engine::readBackupRecords(run.file), before.isEmpty());
        if (!report.changes[i].any())
            continue;
        report.changed.append(int(i));
        if (history) {
            if (const shell::Status staged = history->stage(run.controller->name, run.file);
                !staged)
                report.historyProblem = staged.error().message;
        }
    }
    if (!history || !report.historyProblem.isEmpty())
        return;
    if (!report.changed.isEmpty()) {
        QStringList message{report.headline(), QString()};
        for (const int i : std::as_const(report.changed))
            message.append(report.changeLine(i));
        const shell::Result<bool> made = history->commit(message.join(u'\n') + u'\n');
        if (!made)
            report.historyProblem = made.error().message;
        else
            report.committed = *made;
    }
    // Every run pushes, so that a commit whose push failed goes out with the
    // next one.
    if (!fleet.settings.remote.isEmpty() && report.historyProblem.isEmpty()) {
        if (const shell::Status pushed = history->push(fleet.settings.remote); !pushed) {
            report.pushProblem = pushed.error().message;
            const QString remote = shownRemote(fleet.settings.remote);
            complain(QStringLiteral("push to %1: %2; the commit goes out with the next push.")
                         .arg(remote, report.pushProblem));
            engine::JobLog().appendEvent("push", remote,
                                         QStringLiteral("failed: ") + report.pushProblem);
        }
    }
}

QString changeColumn(const RunReport& report, int i) {
    const RecordChanges& c = report.changes[i];
    if (!report.runs[i].complete())
        return QStringLiteral("-");
    if (c.first)
        return QStringLiteral("first");
    if (!c.any())
        return QStringLiteral("none");
    return QStringLiteral("+%1 -%2 ~%3 cards")
        .arg(c.cardsAdded.size())
        .arg(c.cardsRemoved.size())
        .arg(c.cardsChanged.size());
}

void printTable(const RunReport& report) {
    std::fprintf(stderr, "\n%-20s %-28s %4s %8s %8s %5s  %-20s %s\n", "controller", "port", "addr",
                 "records", "seconds", "tries", "outcome", "changes");
    for (qsizetype i = 0; i < report.runs.size(); ++i) {
        const ControllerRun& r = report.runs[i];
        std::fprintf(stderr, "%-20s %-28s %4s %8d %8.1f %5d  %-20s %s\n",
                     qPrintable(r.controller->name), qPrintable(r.controller->port),
                     shell::formatDigits(r.controller->address, 2).constData(),
                     r.summary.value("records").toInt(), r.summary.value("seconds").toDouble(),
                     r.tries, qPrintable(fleet::outcomeOf(r)),
                     qPrintable(changeColumn(report, int(i))));
    }
    std::fprintf(stderr, "%s\n", qPrintable(report.headline()));
    if (!report.historyProblem.isEmpty())
        std::fprintf(stderr, "history: %s\n", qPrintable(report.historyProblem));
    else if (report.committed)
        std::fprintf(stderr, "history: committed\n");
    if (!report.pushProblem.isEmpty())
        std::fprintf(stderr, "push: %s; the commit goes out with the next push\n",
                     qPrintable(report.pushProblem));
}

using Variables = QList<std::pair<QString, QString>>;

// The variables of a hook about `indexes` (one line each), the run's
// summary and its card counts.
Variables hookVariables(const RunReport& report, const QList<int>& indexes, const QString& outcome,
                        int status, const QString& summary, bool counted) {
    QStringList names, ports, addresses, files;
    for (const int i : indexes) {
        names.append(report.runs[i].controller->name);
        ports.append(report.runs[i].controller->port);
        addresses.append(QString::number(report.runs[i].controller->address));
        files.append(report.runs[i].file);
    }
    const auto count = [&](QList<int> RecordChanges::*list) {
        return QString::number(counted ? report.total(list) : 0);
    };
    return {{"KT560AX_CONTROLLER", names.join(u'\n')},
            {"KT560AX_PORT", ports.join(u'\n')},
            {"KT560AX_ADDRESS", addresses.join(u'\n')},
            {"KT560AX_FILE", files.join(u'\n')},
            {"KT560AX_OUTCOME", outcome},
            {"KT560AX_EXIT", QString::number(status)},
            {"KT560AX_SUMMARY", summary},
            {"KT560AX_CARDS_ADDED", count(&RecordChanges::cardsAdded)},
            {"KT560AX_CARDS_REMOVED", count(&RecordChanges::cardsRemoved)},
            {"KT560AX_CARDS_CHANGED", count(&RecordChanges::cardsChanged)}};
}

// A summary that fits in an environment variable (Linux takes 128 KiB a
// variable): at most this many bytes, then a note of how many lines were
// left out.
QString bounded(const QString& summary) {
    constexpr qsizetype kMaxBytes = 64 * 1024;
    if (summary.toUtf8().size() <= kMaxBytes)
        return summary;
    QStringList lines = summary.split(u'\n');
    qsizetype bytes = 0, kept = 0;
    while (kept < lines.size() && bytes + lines[kept].toUtf8().size() + 1 < kMaxBytes - 100)
        bytes += lines[kept++].toUtf8().size() + 1;
    const qsizetype left = lines.size() - kept;
    lines.resize(kept);
    lines.append(QStringLiteral("... and %1 more lines").arg(left));
    return lines.join(u'\n');
}

QJsonArray runHooks(const RunReport& report, const fleet::FleetSettings& settings,
                    const SignalWatch& watch) {
    QJsonArray results;
    const auto hook = [&](const char* name, const QStringList& command, Variables variables,
                          const QString& controller) {
        if (command.isEmpty() || watch.interrupted())
            return; // a run told to stop calls no more hooks
        for (auto& [variable, value] : variables)
            if (variable == QLatin1String("KT560AX_SUMMARY"))
                value = bounded(value);
        const fleet::HookRun run =
            fleet::runHook(command, variables, QLatin1String(name), fleet::kHookSeconds,
                           [&] { return watch.interrupted(); });
        QJsonObject result{{"hook", name}, {"ok", run.ok}};
        if (!controller.isEmpty())
            result.insert("controller", controller);
        if (!run.ok) {
            result.insert("problem", run.problem);
            complain(QStringLiteral("the %1 hook%2: %3")
                         .arg(QLatin1String(name),
                              controller.isEmpty() ? QString() : " of [" + controller + ']',
                              run.problem));
        }
        results.append(result);
    };
    for (const int i : report.failed) {
        const ControllerRun& run = report.runs[i];
        hook("OnFailure", settings.onFailure,
             hookVariables(report, {i}, fleet::outcomeOf(run), run.status, report.failureLine(i),
                           false),
             run.controller->name);
    }
    if (!report.changed.isEmpty()) {
        QStringList lines{report.headline()};
        for (const int i : report.changed)
            lines.append(report.changeLine(i));
        hook("OnChange", settings.onChange,
             hookVariables(report, report.changed, QStringLiteral("changed"), report.status,
                           lines.join(u'\n'), true),
             {});
    }
    QList<int> all;
    for (qsizetype i = 0; i < report.runs.size(); ++i)
        all.append(int(i));
    hook("OnDone", settings.onDone,
         hookVariables(report, all,
                       report.status == kDone ? QStringLiteral("done") : QStringLiteral("failed"),
                       report.status, report.summary(), true),
         {});
    return results;
}

QJsonObject runJson(const RunReport& report, const QJsonArray& hooks) {
    QJsonArray jobs;
    for (qsizetype i = 0; i < report.runs.size(); ++i) {
        const ControllerRun& run = report.runs[i];
        QJsonObject job = run.summary;
        job.insert("controller", run.controller->name);
        job.insert("file", run.file);
        job.insert("exitStatus", run.status);
        job.insert("tries", run.tries);
        if (run.complete()) {
            const RecordChanges& c = report.changes[i];
            job.insert("changed", c.any());
            job.insert("cardsAdded", c.cardsAdded.size());
            job.insert("cardsRemoved", c.cardsRemoved.size());
            job.insert("cardsChanged", c.cardsChanged.size());
        }
        jobs.append(job);
    }
    QJsonObject json{{"command", "run"},
                     {"jobs", jobs},
                     {"changed", report.changed.size()},
                     {"failed", report.failed.size()},
                     {"committed", report.committed},
                     {"hooks", hooks},
                     {"exitStatus", report.status}};
    if (!report.historyProblem.isEmpty())
        json.insert("historyProblem", report.historyProblem);
    if (!report.pushProblem.isEmpty())
        json.insert("pushProblem", report.pushProblem);
    if (!report.pageProblems.isEmpty())
        json.insert("notWritten", QJsonArray::fromStringList(report.pageProblems));
    return json;
}

} // namespace

shell::Result<fleet::Fleet> readFleet(const QString& fleetFile) {
    const shell::Result<QByteArray> text = shell::readRegularFile(fleetFile, kMaxFleetBytes);
    if (!text)
        return shell::Error{text.error().code,
                            QStringLiteral("the fleet file: %1.").arg(text.error().message)};
    fleet::Fleet fleet = fleet::parseFleet(*text, fleetFile, QFileInfo(fleetFile).absolutePath());
    if (!fleet.errors.isEmpty())
        return shell::Error{shell::ErrorCode::Invalid, fleet.errors.join(u'\n')};
    return fleet;
}

int runFleet(const CliOptions& options, const QString& iniFile) {
    const QString fleetFile = options.files[0];
    const shell::Result<fleet::Fleet> read = readFleet(fleetFile);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    const fleet::Fleet& fleet = *read;
    QList<QStringList> lines;
    QStringList errors;
    for (const fleet::FleetController& controller : fleet.controllers) {
        const auto address = link::parsePortName(controller.port, iniFile);
        if (!address)
            errors.append(QStringLiteral("%1 line %2: %3")
                              .arg(fleetFile)
                              .arg(controller.line)
                              .arg(address.error().message));
        lines.append(address ? fleet::linesOf(*address) : QStringList{});
    }
    if (!errors.isEmpty()) {
        for (const QString& error : std::as_const(errors))
            complain(error);
        return kFileError;
    }

    RunReport report;
    // The history is opened first, so that a broken one is known before the
    // night's work, which goes on without it.
    std::unique_ptr<fleet::History> history;
    if (!fleet.settings.history.isEmpty()) {
        history = std::make_unique<fleet::History>();
        if (const shell::Status opened =
                history->open(fleet.settings.history, fleet::History::Mode::Write);
            !opened) {
            report.historyProblem = opened.error().message;
            complain(QStringLiteral("the history: %1").arg(report.historyProblem));
            history.reset();
        }
    }
    SignalWatch watch;
    fleet::FleetRunner runner(fleet, QCoreApplication::applicationFilePath(), jobArguments(options),
                              lines, options.quiet);
    QObject::connect(&watch, &SignalWatch::arrived, &runner, &fleet::FleetRunner::stop);
    report.runs =
        runner.run(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")));
    for (const ControllerRun& run : std::as_const(report.runs))
        report.status = worse(report.status, run.tries > 0 ? run.status : kInterrupted);
    recordChanges(report, history.get(), fleet);
    if (history && !report.historyProblem.isEmpty())
        complain(
            QStringLiteral("the history: %1; nothing was committed.").arg(report.historyProblem));
    if (!report.historyProblem.isEmpty())
        report.status = worse(report.status, kFileError);
    if (options.keep > 0)
        for (const ControllerRun& run : std::as_const(report.runs))
            if (!run.file.isEmpty())
                fleet::pruneBackups(QFileInfo(run.file).absolutePath(), options.keep,
                                    QFileInfo(run.file).fileName());
    const QString metrics = options.metrics.isEmpty() ? fleet.settings.metrics : options.metrics;
    if (!metrics.isEmpty() && !writeMetrics(fleet, report.runs, int(report.changed.size()),
                                            int(report.failed.size()), metrics))
        report.pageProblems.append(QStringLiteral("metrics"));
    if (!fleet.settings.report.isEmpty() &&
        !writeReport(fleet, fleet.settings.report, options, iniFile))
        report.pageProblems.append(QStringLiteral("report"));
    if (!options.quiet)
        printTable(report);
    const QJsonArray hooks = runHooks(report, fleet.settings, watch);
    if (watch.interrupted())
        report.status = worse(report.status, kInterrupted);
    if (options.json)
        std::printf(
            "%s\n",
            QJsonDocument(runJson(report, hooks)).toJson(QJsonDocument::Compact).constData());
    return report.status;
}

} // namespace kt::cli
