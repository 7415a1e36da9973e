#include "apply_command.h"

#include "cli_view.h"
#include "command_support.h"
#include "diff_command.h"
#include "engine/load_warnings.h"
#include "fleet/apply_plan.h"
#include "fleet/apply_record.h"
#include "fleet/backup_folder.h"
#include "fleet/exit_status.h"
#include "fleet/fleet_runner.h"
#include "fleet/history_encryption.h"
#include "link/port_naming.h"
#include "link/trace.h"
#include "shell/text_format.h"
#include "signal_watch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace kt::cli {

namespace {

using engine::JobOutcome;

QString slotText(const QList<int>& numbers) {
    return numbers.isEmpty() ? QStringLiteral("none") : engine::slotList(numbers);
}

// Runs one job of `request` on the open port to its end; its outcome.
JobOutcome runJob(engine::TransferJob& job, const engine::JobRequest& request,
                  const SignalWatch& watch) {
    bool ended = false;
    const QMetaObject::Connection end =
        QObject::connect(&job, &engine::TransferJob::finished, &job, [&ended] {
            ended = true;
            QCoreApplication::quit();
        });
    if (job.start(request) && !watch.interrupted() && !ended)
        QCoreApplication::exec();
    QObject::disconnect(end);
    if (watch.interrupted()) {
        job.cancel();
        return JobOutcome::Cancelled;
    }
    return job.outcome();
}

// The records a Load acknowledged: the first `done` writes in the order a
// Load sends them, category by category, cards by slot.
QList<int> cardsWritten(const fleet::ApplyPlan& plan, int done) {
    int before = 0; // writes of the categories a Load sends before the cards
    for (const engine::RecordDifference& d : plan.writes) {
        const engine::Category* category = engine::categoryOfKey(d.key);
        if (category && category->cards)
            break;
        ++before;
    }
    const QList<int> cards = plan.writtenCards();
    return cards.mid(0, std::clamp(done - before, 0, int(cards.size())));
}

} // namespace

int runApplyController(const CliOptions& options, const QString& iniFile) {
    const QString& before = options.files[0];
    const QString& list = options.files[1];
    const int cards = options.cards.value_or(engine::kMaxCards);
    QJsonObject summary{{"command", "apply"}, {"file", before}, {"port", options.port}};
    const auto end = [&](JobOutcome outcome, const QString& error = {}) {
        const int status = exitStatusOf(outcome);
        summary.insert("outcome", QString::fromLatin1(engine::outcomeName(outcome)));
        summary.insert("exitStatus", status);
        if (!error.isEmpty())
            summary.insert("error", error.left(engine::JobLog::kMaxErrorChars));
        std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        return status;
    };

    SignalWatch watch;
    link::LinePort port(iniFile);
    link::EventLoopClock clock;
    if (!openPort(options, port, clock, watch)) {
        if (watch.interrupted())
            return end(JobOutcome::Cancelled);
        addPortProblem(summary, port);
        return end(port.openError() == link::SerialPort::OpenError::Server
                       ? JobOutcome::ServerClosed
                       : JobOutcome::PortUnavailable,
                   port.errorString());
    }
    // The command asked already: a question of a job here is answered yes.
    CliView view(iniFile, languageOf(options), true, true);
    engine::TransferJob job(port, clock, view, link::lineTimesOf(options.settings));
    const engine::JobLog log;
    job.setJobLog(&log);
    const QString portName = link::portAndLine(options.port, iniFile);

    // The controller as it is, kept for a restore.
    JobOutcome outcome = runJob(job,
                                {.direction = engine::Direction::Save,
                                 .file = before,
                                 .address = options.address,
                                 .categories = options.categories,
                                 .cardCount = cards,
                                 .portName = portName},
                                watch);
    if (outcome != JobOutcome::Finished)
        return end(outcome, job.error());
    summary.insert("records", job.counts().done);

    const fleet::ApplyPlan plan =
        fleet::planApply(engine::readBackupRecords(before), engine::readBackupRecords(list),
                         options.categories, cards);
    summary.insert("toWrite", plan.writes.size());
    summary.insert("cardsToWrite", slotText(plan.writtenCards()));
    summary.insert("left", plan.left.size());
    summary.insert("cardsLeft", slotText(plan.leftCards()));
    summary.insert("cardsIntoEmpty", slotText(plan.cardsIntoEmpty()));
    if (options.dryRun || !plan.any())
        return end(plan.any() ? JobOutcome::Differences : JobOutcome::Finished);

    // The records that differ, as a backup of their own: a restore of it
    // sends those and no other.
    QTemporaryDir folder;
    const QString changes = folder.filePath(QStringLiteral("apply.KT"));
    const QByteArray address = shell::formatDigits(options.address, 2);
    if (const shell::Status made =
            fleet::writeRecordSet(changes, fleet::writtenValues(plan), address,
                                  plan.writtenCategories(), plan.highestWrittenCard());
        !folder.isValid() || !made)
        return end(JobOutcome::FileError, made ? folder.errorString() : made.error().message);
    const engine::JobRequest write{.direction = engine::Direction::Load,
                                   .file = changes,
                                   .address = options.address,
                                   .categories = plan.writtenCategories(),
                                   .cardCount = std::max(1, plan.highestWrittenCard()),
                                   .portName = portName};
    outcome = runJob(job, write, watch);
    summary.insert("written",
                   outcome == JobOutcome::Finished ? int(plan.writes.size()) : job.counts().done);
    summary.insert("cardsWritten", slotText(outcome == JobOutcome::Finished
                                                ? plan.writtenCards()
                                                : cardsWritten(plan, job.counts().done)));
    if (outcome != JobOutcome::Finished)
        return end(outcome, job.error());

    // Read back: only the records written count; the others of their
    // categories are no business of this apply.
    engine::JobRequest check = write;
    check.direction = engine::Direction::Verify;
    check.onlyStored = true;
    outcome = runJob(job, check, watch);
    if (outcome != JobOutcome::Finished && outcome != JobOutcome::Differences)
        return end(outcome, job.error());
    QList<QByteArray> written;
    for (const engine::RecordDifference& d : plan.writes)
        written.append(d.key);
    QList<engine::RecordDifference> differing;
    for (const engine::RecordDifference& d : job.differences())
        if (written.contains(d.key))
            differing.append(d);
    if (differing.isEmpty())
        return end(JobOutcome::Finished);
    QJsonArray keys;
    for (const engine::RecordDifference& d : differing)
        keys.append(QString::fromLatin1(d.key));
    summary.insert("readBackDiffers", keys);
    return end(JobOutcome::Differences,
               QStringLiteral("%1 records written read back otherwise").arg(differing.size()));
}

namespace {

QString warningLine(const QString& list, const engine::LoadWarning& warning) {
    using Kind = engine::LoadWarning::Kind;
    switch (warning.kind) {
    case Kind::Incomplete:
        return list + QStringLiteral(" stopped before its end");
    case Kind::CardNumbers:
        return QStringLiteral("%1 covers %2 card slots, %3 are chosen")
            .arg(list)
            .arg(warning.first)
            .arg(warning.second);
    case Kind::CategoryNotSaved:
        return QStringLiteral("%1 holds no reading of %2")
            .arg(list, QString::fromLatin1(warning.category->name));
    case Kind::StaleCards:
        return QStringLiteral("%1 holds cards above its card count, in slots %2; they are not "
                              "written")
            .arg(list, engine::slotList(warning.stale));
    }
    return {};
}

QStringList jobArguments(const CliOptions& options) {
    const auto number = [](float value) {
        return QString::fromLatin1(shell::shortestDecimal(value));
    };
    QStringList arguments{
        QStringLiteral("--settings"), QString::fromLatin1(options.settings.strSettings),
        QStringLiteral("--tx-delay"), number(options.settings.sngTxDelay),
        QStringLiteral("--rx-delay"), number(options.settings.sngRxDelay),
        QStringLiteral("--timeout"),  number(options.settings.sngRxTimeOut),
        QStringLiteral("--quiet"),    QStringLiteral("--json")};
    arguments.append(options.dryRun ? QStringLiteral("--dry-run") : QStringLiteral("--yes"));
    return arguments;
}

// A controller's line of the plan or of its result.
QString controllerLine(const CliOptions& options, const fleet::ControllerRun& run) {
    const QJsonObject& s = run.summary;
    const QString name = link::displayText(run.controller->name);
    const QString left = s.value("cardsLeft").toString();
    const QString emptied = s.value("cardsIntoEmpty").toString();
    // A card put into an empty slot is the one change a restore of the
    // before-apply backup cannot take back: no request empties a slot.
    const QString leftWords = (emptied.isEmpty() || emptied == QLatin1String("none")
                                   ? QString()
                                   : QStringLiteral("; into empty slots: ") + emptied) +
                              (left.isEmpty() || left == QLatin1String("none")
                                   ? QString()
                                   : QStringLiteral("; left as they are: ") + left);
    if (!s.contains("toWrite")) // it ended before its plan
        return QStringLiteral("%1: %2: %3")
            .arg(name, QLatin1String(engine::wordsOf(run.outcome).name),
                 link::displayText(run.error));
    const int toWrite = s.value("toWrite").toInt();
    if (options.dryRun || toWrite == 0)
        return QStringLiteral("%1: %2 record%3 to write (cards %4)%5")
            .arg(name)
            .arg(toWrite)
            .arg(toWrite == 1 ? "" : "s")
            .arg(s.value("cardsToWrite").toString(), leftWords);
    QString line = QStringLiteral("%1: wrote %2 of %3 records (cards %4)")
                       .arg(name)
                       .arg(s.value("written").toInt())
                       .arg(toWrite)
                       .arg(s.value("cardsWritten").toString());
    line += run.complete() ? QStringLiteral(", read back equal")
                           : QStringLiteral(", then %1: %2")
                                 .arg(QLatin1String(engine::wordsOf(run.outcome).name),
                                      link::displayText(run.error));
    return line + leftWords;
}

// Records each controller's apply in the fleet's state and commits those
// it changed to the history; the exit status of doing so.
int recordApply(const QString& fleetFile, const fleet::Fleet& fleet, const QString& list,
                const QList<fleet::ControllerRun>& runs,
                const QMap<QByteArray, QByteArray>& records,
                const QList<const engine::Category*>& categories, int cards, bool silent) {
    std::map<QString, fleet::AppliedList> applied;
    QList<fleet::AppliedChange> changes;
    for (const fleet::ControllerRun& run : runs) {
        if (run.tries == 0)
            continue;
        const bool read = run.summary.contains("records");
        applied.insert_or_assign(run.controller->name,
                                 fleet::AppliedList{run.started, list, read ? run.file : QString(),
                                                    run.outcome, run.error,
                                                    run.summary.value("written").toInt(),
                                                    run.summary.value("cardsWritten").toString(),
                                                    run.summary.value("cardsLeft").toString()});
        if (run.complete() && run.summary.value("written").toInt() > 0) {
            const fleet::ApplyPlan plan =
                fleet::planApply(engine::readBackupRecords(run.file), records, categories, cards);
            const QString folder = run.controller->backupFolder();
            const fleet::StoredBackup last =
                fleet::newestComplete(fleet::storedBackups(folder), QDateTime::currentDateTime());
            changes.append({run.controller->name, run.file, fleet::writtenValues(plan),
                            shell::formatDigits(run.controller->address, 2),
                            last.name.isEmpty() ? QString() : QDir(folder).filePath(last.name)});
        }
    }
    int status = kDone;
    const auto problem = [&](const QString& text) {
        complain(text);
        status = kFileError;
    };
    if (const shell::Status recorded = fleet::recordApplies(fleetFile, fleet, applied); !recorded)
        problem(QStringLiteral("the fleet's state: %1").arg(recorded.error().message));
    if (fleet.settings.history.isEmpty() || changes.isEmpty())
        return status;
    fleet::History history;
    shell::Status opened = history.open(fleet.settings.history, fleet::History::Mode::Write);
    if (opened)
        opened = fleet::encryptAsSet(history, fleet.settings);
    std::optional<fleet::CommittedDigests> digests;
    if (opened && history.encrypts())
        digests.emplace(fleetFile);
    const shell::Result<bool> committed =
        opened ? fleet::commitApplies(history, list, fleet::applierName(), changes,
                                      digests ? &*digests : nullptr)
               : shell::Result<bool>(opened.error());
    if (!committed)
        problem(QStringLiteral("the history: %1; the next run records the changes.")
                    .arg(committed.error().message));
    else if (*committed && !silent)
        std::printf("history: committed\n");
    if (committed && *committed && digests) {
        digests->committed(history);
        if (const shell::Status kept = digests->write(fleet); !kept)
            problem(QStringLiteral("the digests of the history's versions: %1; the next run "
                                   "commits each controller without comparing.")
                        .arg(kept.error().message));
    }
    return status;
}

} // namespace

int runApply(const CliOptions& options, const QString& iniFile) {
    const QString fleetFile = options.files[0];
    const QString list = QFileInfo(options.files[1]).absoluteFilePath();
    const shell::Result<fleet::Fleet> read = fleet::readFleetFile(fleetFile);
    if (!read) {
        complain(read.error().message);
        return kFileError;
    }
    // Only the controllers asked for, each tried once: a second try would
    // read a controller already half written as its state before.
    std::optional<fleet::Fleet> asked = chooseControllers(*read, fleetFile, options.controllers);
    if (!asked)
        return kUsage;
    fleet::Fleet& chosen = *asked;
    chosen.settings.retries = 0;
    if (!options.dryRun && !options.yes) {
        complain(QStringLiteral("nothing is written: --dry-run shows the plan, --yes applies it."));
        return kFileError;
    }
    if (const shell::Status usable = engine::checkBackupFileSet(list, false); !usable) {
        complain(usable.error().message);
        return kFileError;
    }
    const engine::Manifest manifest = engine::readManifest(list);
    const QMap<QByteArray, QByteArray> records = engine::readBackupRecords(list);
    if (!manifest.titled) {
        complain(QStringLiteral("%1 is no backup file.").arg(list));
        return kFileError;
    }
    QList<const engine::Category*> categories =
        options.categoriesGiven ? options.categories : fleet::listCategories(manifest, records);
    const int listCards = engine::backupCardCount(list);
    if (!options.categoriesGiven && !options.cards && listCards == 0)
        categories.removeIf([](const engine::Category* c) { return c->cards != nullptr; });
    if (categories.isEmpty()) {
        complain(QStringLiteral("%1 holds no records to apply.").arg(list));
        return kFileError;
    }
    const int cards = options.cards.value_or(listCards > 0 ? listCards : engine::kMaxCards);

    // A list that may not stand for whole controllers is said; only --yes
    // writes it, as a restore of it would need.
    bool blocking = false;
    for (const engine::LoadWarning& warning :
         engine::loadWarnings(manifest, engine::cardSlots(records),
                              {.direction = engine::Direction::Load,
                              .file = list,
                              .categories = categories,
                              .cardCount = cards})) {
        blocking = blocking || warning.blocking();
        if (!options.quiet || warning.blocking())
            complain(warningLine(list, warning) + u'.');
    }
    if (blocking && !options.yes && !options.quiet)
        complain(QStringLiteral("writing it needs --yes."));

    QList<QStringList> lines;
    for (const fleet::FleetController& controller : std::as_const(chosen.controllers)) {
        const auto address = link::parsePortName(controller.port, iniFile);
        if (!address) {
            complain(
                QStringLiteral("%1 line %2: %3")
                    .arg(fleetFile, QString::number(controller.line), address.error().message));
            return kFileError;
        }
        lines.append(fleet::linesOf(*address));
    }

    fleet::FleetRunner runner(chosen, QCoreApplication::applicationFilePath(),
                              jobArguments(options), lines);
    runner.setCommand(QStringLiteral("apply-controller"), {list});
    runner.setScope(categories, cards);
    SignalWatch watch;
    QObject::connect(&watch, &SignalWatch::arrived, &runner, &fleet::FleetRunner::stop);
    bool ended = false;
    QObject::connect(&runner, &fleet::FleetRunner::finished, &runner, [&ended] {
        ended = true;
        QCoreApplication::quit();
    });
    // A dry run's readings are no way back (the newest before-apply backup
    // must be the state before the last apply that wrote): they are named
    // apart and removed once the plan is shown.
    runner.start(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")) +
        (options.dryRun ? QStringLiteral("-apply-plan") : QStringLiteral("-before-apply")));
    if (!ended)
        QCoreApplication::exec();

    int status = kDone;
    QJsonArray jobs;
    for (const fleet::ControllerRun& run : runner.runs()) {
        status = worse(status, run.tries > 0 ? run.status : kInterrupted);
        QJsonObject job = run.summary;
        job.insert("controller", run.controller->name);
        if (!options.dryRun)
            job.insert("file", run.file);
        job.insert("exitStatus", run.status);
        job.insert("outcome", QLatin1String(engine::outcomeName(run.outcome)));
        if (!run.error.isEmpty())
            job.insert("error", run.error);
        jobs.append(job);
        if (options.json || (options.quiet && run.complete()))
            continue;
        std::printf("%s\n", qPrintable(controllerLine(options, run)));
        // The plan in detail, values masked: what goes where, never a card.
        if (options.dryRun && run.summary.value("toWrite").toInt() > 0 && !options.quiet) {
            fleet::ApplyPlan plan =
                fleet::planApply(engine::readBackupRecords(run.file), records, categories, cards);
            maskValues(plan.writes);
            for (const QString& text :
                 engine::describeDifferences(plan.writes, QStringLiteral("controller"),
                                             QStringLiteral("list"))
                     .split(u'\n', Qt::SkipEmptyParts))
                std::printf("  %s\n", qPrintable(text));
        }
        if (!options.dryRun && !run.file.isEmpty() && run.summary.contains("records") &&
            !options.quiet)
            std::printf("  before: %s\n", qPrintable(run.file));
    }
    if (options.dryRun)
        for (const fleet::ControllerRun& run : runner.runs())
            if (!run.file.isEmpty())
                static_cast<void>(fleet::removeBackupSet(run.file));
    if (!options.dryRun)
        status = worse(status, recordApply(fleetFile, *read, list, runner.runs(), records,
                                           categories, cards, options.json || options.quiet));
    if (options.json)
        std::printf("%s\n", QJsonDocument(QJsonObject{{"command", "apply"},
                                                      {"list", list},
                                                      {"dryRun", options.dryRun},
                                                      {"jobs", jobs},
                                                      {"exitStatus", status}})
                                .toJson(QJsonDocument::Compact)
                                .constData());
    return status;
}

} // namespace kt::cli
