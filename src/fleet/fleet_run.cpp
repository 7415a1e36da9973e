#include "fleet_run.h"

#include "backup_folder.h"
#include "committed_state.h"
#include "engine/backup_file.h"
#include "engine/job_log.h"
#include "engine/record_compare.h"
#include "exit_status.h"
#include "history.h"
#include "history_encryption.h"
#include "hooks.h"
#include "metrics.h"
#include "problem_groups.h"
#include "shell/regular_file.h"
#include "shell/text_format.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <algorithm>

namespace kt::fleet {

namespace {

QString plural(qsizetype count, const char* one, const char* many) {
    return QString::number(count) + u' ' + QLatin1String(count == 1 ? one : many);
}

// A suspicious backup's word where an outcome goes (a hook's details): its
// state's identifier.
QString suspiciousWord() {
    return QString::fromLatin1(wordsOf(ControllerState::Suspicious).id);
}

bool readsCards(const FleetController& controller) {
    return std::any_of(controller.categories.cbegin(), controller.categories.cend(),
                       [](const engine::Category* c) { return c->cards != nullptr; });
}

// The backup a new one is compared with: the committed version when there
// is a history in clear, else the newest complete backup of its folder
// before it.
QString previousBackup(const ControllerRun& run, const History* history, const QDateTime& now) {
    if (history)
        return history->committedFile(run.controller->name);
    const QString folder = QFileInfo(run.file).absolutePath();
    const StoredBackup last =
        newestComplete(storedBackups(folder), now, QFileInfo(run.file).fileName());
    return last.name.isEmpty() ? QString() : QDir(folder).filePath(last.name);
}

} // namespace

QString RunResult::headline() const {
    QString text = plural(changed.size(), "controller changed", "controllers changed") +
                   QStringLiteral(", %1 failed").arg(failed.size());
    if (!suspicious.isEmpty())
        text += QStringLiteral(", %1 suspicious").arg(suspicious.size());
    return text;
}

QString RunResult::changeLine(int i) const {
    return describeChanges(runs[i].controller->name, changes[i]);
}

QString RunResult::failureLine(int i) const {
    return failureText(runs[i].controller->name, runs[i].outcome, runs[i].tries, runs[i].error);
}

QString RunResult::suspicionLine(int i) const {
    return runs[i].controller->name + QStringLiteral(": suspicious: ") + suspicions[i];
}

QString RunResult::summary() const {
    QStringList lines{headline()};
    for (const int i : changed)
        lines.append(changeLine(i));
    lines += problemLines(groupProblems(problemsOf(*this)));
    if (!historyProblem.isEmpty())
        lines.append(QStringLiteral("history: ") + historyProblem);
    if (!pushProblem.isEmpty())
        lines.append(QStringLiteral("push: ") + pushProblem);
    for (const QString& page : notWritten)
        lines.append(page + QStringLiteral(": not written"));
    return lines.join(u'\n');
}

FleetRun::FleetRun(const Fleet& fleet, RunSettings settings, FleetRunView& view)
    : fleet_(fleet), settings_(std::move(settings)), view_(view),
      chosen_(chosenControllers(fleet, settings_.controllers)),
      runner_(chosen_, settings_.program, settings_.jobArguments, settings_.lines) {
    runner_.setTexts(settings_.language.text);
    connect(&runner_, &FleetRunner::controllerEnded, this, &FleetRun::controllerEnded);
    connect(&runner_, &FleetRunner::retrying, this,
            [this](int count, int seconds) { view_.retrying(count, seconds); });
}

// A hook to be called: its details are made as it starts.
struct FleetRun::HookCall {
    const char* name;
    QStringList command;
    std::function<HookDetails()> details;
    QString controller; // of an OnFailure hook
    HookDetails values{};
    std::unique_ptr<Hook> hook{};
};

FleetRun::~FleetRun() = default;

void FleetRun::stop() {
    stopped_ = true;
    runner_.stop();
    if (hook_ && hook_->hook)
        hook_->hook->stop();
    if (push_)
        push_->stop();
}

void FleetRun::start() {
    // The history is opened first, so that a broken one is known before the
    // night's work, which goes on without it.
    if (!fleet_.settings.history.isEmpty()) {
        history_ = std::make_unique<History>();
        shell::Status opened = history_->open(fleet_.settings.history, History::Mode::Write);
        if (opened)
            opened = encryptAsSet(*history_, fleet_.settings);
        if (!opened) {
            result_.historyProblem = opened.error().message;
            view_.problem(QStringLiteral("the history: %1; nothing is committed this run.")
                              .arg(result_.historyProblem));
            history_.reset();
        } else if (history_->encrypts()) {
            digests_ = std::make_unique<CommittedDigests>(settings_.fleetFile);
        }
    }
    known_ = readFleetState(statePathOf(settings_.fleetFile), &fleet_).valueOr(FleetState{});
    result_.runs = runner_.runs();
    result_.changes.resize(result_.runs.size());
    newDigests_.resize(result_.runs.size());
    result_.held.resize(result_.runs.size());
    result_.suspicions.resize(result_.runs.size());
    connect(&runner_, &FleetRunner::finished, this, &FleetRun::jobsEnded);
    runner_.start(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")));
}

void FleetRun::jobsEnded() {
    const QList<ControllerRun>& runs = runner_.runs();
    result_.runs = runs;
    for (qsizetype i = 0; i < runs.size(); ++i) {
        result_.status = worse(result_.status, runs[i].tries > 0 ? runs[i].status : kInterrupted);
        if (!runs[i].complete())
            result_.failed.append(int(i));
    }
    std::sort(result_.changed.begin(), result_.changed.end());
    const FleetState recorded = recordState();
    if (!result_.suspicious.isEmpty())
        result_.status = worse(result_.status, kDifferences);
    commit();
    if (settings_.keep > 0)
        for (const ControllerRun& run : runs) {
            if (run.tries == 0)
                continue;
            const QString folder = QFileInfo(run.file).absolutePath();
            const QFileInfo good(recorded.controllers.at(run.controller->name).lastGood.file);
            pruneBackups(folder, settings_.keep, QFileInfo(run.file).fileName(),
                         good.absolutePath() == folder ? good.fileName() : QString());
        }
    push();
}

void FleetRun::finish() {
    if (!result_.historyProblem.isEmpty() || !result_.notWritten.isEmpty())
        result_.status = worse(result_.status, kFileError);
    if (stopped_)
        result_.status = worse(result_.status, kInterrupted);
    emit finished();
}

void FleetRun::controllerEnded(int index) {
    ControllerRun& run = result_.runs[index];
    run = runner_.runs()[index];
    if (run.complete()) {
        const QMap<QByteArray, QByteArray> records = engine::readBackupRecords(run.file);
        const engine::ReadScope read = engine::readScopeOf(engine::readManifest(run.file));
        if (digests_) {
            // The committed version cannot be read here: its digests stand for it.
            const QString& name = run.controller->name;
            QString why;
            newDigests_[index] = digests_->digestsOf(records);
            result_.changes[index] = digests_->changesTo(name, history_->sectionTree(name),
                                                         newDigests_[index], records, read, &why);
            if (result_.changes[index].uncompared)
                view_.problem(QStringLiteral("%1: could not compare with its last version in the "
                                             "history (%2); it is committed as it is.")
                                  .arg(name, why));
        } else {
            const QString before =
                previousBackup(run, history_.get(), QDateTime::currentDateTime());
            result_.changes[index] = changesBetween(
                before.isEmpty() ? QMap<QByteArray, QByteArray>{}
                                 : engine::readBackupRecords(before),
                records, before.isEmpty(), engine::readScopeOf(engine::readManifest(before)), read);
        }
        result_.held[index] = heldCounts(records, read);
        if (result_.changes[index].any())
            result_.changed.append(index);
        else
            newDigests_[index].clear();
        // Told against the state as the run began; judged again, against the
        // state as it is then, once every job has ended.
        judged(index, known_);
    }
    view_.controllerEnded(result_, index, ++ended_, int(result_.runs.size()));
}

void FleetRun::commit() {
    if (!history_)
        return;
    for (const int i : std::as_const(result_.changed)) {
        const ControllerRun& run = result_.runs[i];
        if (const shell::Status staged = history_->stage(run.controller->name, run.file); !staged) {
            result_.historyProblem = staged.error().message;
            break;
        }
        if (digests_)
            digests_->stage(run.controller->name, newDigests_[i],
                            engine::readScopeOf(engine::readManifest(run.file)));
    }
    // The state goes with the versions, or alone when no version changed,
    // so that the remote tells every gateway's state.
    if (result_.historyProblem.isEmpty())
        if (const shell::Status staged = history_->stageState(
                committedStateText(fleet_, state_, QSysInfo::machineHostName()));
            !staged)
            result_.historyProblem = staged.error().message;
    if (result_.historyProblem.isEmpty()) {
        QStringList message{result_.headline()};
        if (!result_.changed.isEmpty())
            message.append(QString());
        for (const int i : std::as_const(result_.changed))
            message.append(
                (result_.suspicious.contains(i) ? QLatin1String(kSuspiciousMark) : QString()) +
                result_.changeLine(i));
        if (!result_.changed.isEmpty())
            message.append(QString());
        for (const int i : std::as_const(result_.changed))
            message.append(countsTrailer(result_.runs[i].controller->name, result_.changes[i]));
        const shell::Result<bool> made = history_->commit(message.join(u'\n') + u'\n');
        if (!made)
            result_.historyProblem = made.error().message;
        else
            result_.committed = *made && !result_.changed.isEmpty();
        // The commit is made: a history that cannot be packed only grows.
        if (made && *made)
            if (const shell::Result<HistoryPack> packed = history_->pack(); !packed)
                view_.problem(
                    QStringLiteral("the history is not packed: %1.").arg(packed.error().message));
        if (result_.committed && digests_) {
            digests_->committed(*history_);
            if (const shell::Status kept = digests_->write(fleet_); !kept) {
                result_.notWritten.append(QStringLiteral("digests"));
                view_.problem(QStringLiteral("the digests of the history's versions: %1; the "
                                             "next run commits each controller without "
                                             "comparing.")
                                  .arg(kept.error().message));
            }
        }
    }
    if (!result_.historyProblem.isEmpty())
        view_.problem(
            QStringLiteral("the history: %1; nothing was committed.").arg(result_.historyProblem));
}

ControllerRecord FleetRun::judged(int index, const FleetState& state) {
    const ControllerRun& run = result_.runs[index];
    const FleetController& controller = *run.controller;
    const QDateTime now = QDateTime::currentDateTime();
    const auto known = state.controllers.find(controller.name);
    const bool isNew = known == state.controllers.end();
    ControllerRecord record = isNew ? ControllerRecord{} : known->second;
    const RecordChanges& changes = result_.changes[index];
    record.port = controller.port;
    record.lastTry = run.started;
    record.outcome = run.outcome;
    record.error = run.complete() ? QString() : run.error;
    record.tries = run.tries;
    record.failures = run.complete() ? 0 : record.failures + run.tries;
    record.failedTries = run.summary.value("failedTries").toInt();
    record.seconds = run.summary.value("seconds").toDouble();
    record.jobRecords = run.summary.value("records").toInt();
    record.readsCards = readsCards(controller);
    record.changed = run.complete() && changes.any();
    record.changes = record.changed ? changeText(changes) : QString();
    record.cardsAdded = record.changed ? int(changes.cardsAdded.size()) : 0;
    record.cardsRemoved = record.changed ? int(changes.cardsRemoved.size()) : 0;
    record.cardsChanged = record.changed ? int(changes.cardsChanged.size()) : 0;
    if (run.complete()) {
        // The last good backup before this one, which the new one may replace.
        const std::optional<GoodBackup> good = lastGoodOf(record);
        const Collapse collapse =
            collapseOf(good ? &*good : nullptr, result_.held[index], controller.maxLoss);
        const QDateTime finished = engine::readManifest(run.file).finishedAt();
        record.lastComplete = run.file;
        record.lastCompleteAt = finished.isValid() ? finished : now;
        record.cards = changes.cards;
        record.records = changes.records;
        record.suspicious = collapse.suspicious();
        record.emptied = collapse.emptied;
        record.lastGood = record.suspicious
                              ? *good
                              : GoodBackup{run.file, record.lastCompleteAt, result_.held[index]};
    } else if (isNew) {
        // Backups made before the fleet kept its state still count.
        const QString folder = controller.backupFolder();
        if (const StoredBackup last = newestComplete(storedBackups(folder), now);
            !last.name.isEmpty()) {
            record.lastComplete = QDir(folder).filePath(last.name);
            record.lastCompleteAt = last.made;
            const RecordChanges counts =
                changesBetween({}, engine::readBackupRecords(record.lastComplete), true);
            record.cards = counts.cards;
            record.records = counts.records;
        }
    }
    record.recent.append({run.started, run.outcome, record.changed});
    while (record.recent.size() > kRecentRuns)
        record.recent.removeFirst();
    const bool suspicious = run.complete() && record.suspicious;
    result_.suspicions[index] = suspicious ? suspicionText(record) : QString();
    result_.suspicious.removeAll(index);
    if (suspicious)
        result_.suspicious.append(index);
    return record;
}

FleetState FleetRun::recordState() {
    const QString path = statePathOf(settings_.fleetFile);
    // Two runs of one fleet, or a run and an accept, must not undo each
    // other's records: the lock is held from reading the state to writing
    // it, and no longer (a lock held past its stale time may be taken).
    QLockFile lock(stateLockPathOf(path));
    const shell::Status locked = lockState(lock);
    shell::Result<FleetState> read = readFleetState(path, &fleet_);
    if (!read && locked)
        view_.problem(QStringLiteral("%1; a new state is written.").arg(read.error().message));
    FleetState state = read.valueOr(FleetState{});
    result_.suspicious.clear();
    // Read for this fleet, the state holds no controller the fleet lost. A
    // controller this run did not back up (not chosen, or stopped before
    // its turn) keeps its record as it was.
    std::map<QString, ControllerRecord> kept = state.controllers;
    for (qsizetype i = 0; i < result_.runs.size(); ++i)
        if (result_.runs[i].tries > 0)
            kept.insert_or_assign(result_.runs[i].controller->name, judged(int(i), state));
    state.controllers = std::move(kept);
    // The fleet's last run is its newest whole one: a run of a few
    // controllers says nothing of the others.
    if (chosen_.controllers.size() == fleet_.controllers.size())
        state.lastRun = QDateTime::currentDateTime();
    if (!locked)
        stateNotWritten(locked.error().message);
    else if (const shell::Status written = writeFleetState(path, state); !written)
        stateNotWritten(written.error().message);
    // The report and the metrics tell this run's results, written or not.
    state_ = state;
    return state;
}

void FleetRun::stateNotWritten(const QString& why) {
    if (!result_.notWritten.contains(QStringLiteral("state")))
        result_.notWritten.append(QStringLiteral("state"));
    view_.problem(
        QStringLiteral("the fleet's state %1: %2").arg(statePathOf(settings_.fleetFile), why));
}

void FleetRun::recordPush() {
    // A push that was stopped, or never begun, says nothing of the remote;
    // without a remote there is nothing to fail.
    const bool tried = push_ && !push_->stopped();
    result_.pushFailures = state_.pushFailures;
    if (!tried && (!fleet_.settings.remote.isEmpty() || state_.pushFailures == 0))
        return;
    const QString path = statePathOf(settings_.fleetFile);
    QLockFile lock(stateLockPathOf(path));
    const shell::Status locked = lockState(lock);
    const shell::Result<FleetState> read = readFleetState(path);
    FleetState state = read.valueOr(state_);
    const bool pushed = tried && push_->result();
    result_.pushFailures = tried && !pushed ? state.pushFailures + 1 : 0;
    state_.pushFailures = result_.pushFailures; // for the pages
    if (pushed)
        state.lastPushSuccess = QDateTime::currentDateTime();
    state_.lastPushSuccess = state.lastPushSuccess;
    if (state.pushFailures != result_.pushFailures || pushed) {
        state.pushFailures = result_.pushFailures;
        // A state that cannot be read is not written over with what this
        // run holds of it.
        if (!locked)
            stateNotWritten(locked.error().message);
        else if (!read)
            stateNotWritten(read.error().message);
        else if (const shell::Status written = writeFleetState(path, state); !written)
            stateNotWritten(written.error().message);
    }
    if (result_.pushFailures >= fleet_.settings.pushFailLimit) {
        result_.status = worse(result_.status, kFileError);
        view_.problem(shell::fillIn(
            QStringLiteral("the push has failed %1 runs in a row (PushFailLimit %2)."),
            {QString::number(result_.pushFailures),
             QString::number(fleet_.settings.pushFailLimit)}));
    }
}

void FleetRun::writePages() {
    const QDateTime now = QDateTime::currentDateTime();
    const LoadedFleet loaded{settings_.fleetFile,
                             QFileInfo(settings_.fleetFile).completeBaseName(),
                             fleet_,
                             state_,
                             {},
                             {}};
    const QString metrics =
        settings_.metrics.isEmpty() ? fleet_.settings.metrics : settings_.metrics;
    if (!metrics.isEmpty()) {
        const shell::Status written = shell::replaceFile(
            metrics, metricsText(loaded.name, viewsOf(fleet_, state_, now), state_, now));
        if (!written) {
            result_.notWritten.append(QStringLiteral("metrics"));
            view_.problem(QStringLiteral("the metrics: %1.").arg(written.error().message));
        }
    }
    if (!fleet_.settings.report.isEmpty()) {
        const shell::Status written = shell::replaceFile(
            fleet_.settings.report,
            reportPage({ReportSource{&loaded, history_.get()}}, settings_.language, now));
        if (!written) {
            result_.notWritten.append(QStringLiteral("report"));
            view_.problem(QStringLiteral("the report: %1.").arg(written.error().message));
        }
    }
}

void FleetRun::queueHooks() {
    // The details of a hook about `indexes`.
    const auto details = [this](const QList<int>& indexes, const QString& outcome,
                                const QString& summary, bool counted) {
        QList<HookEntry> entries;
        int added = 0, removed = 0, changedCards = 0;
        for (const int i : indexes) {
            const ControllerRun& run = result_.runs[i];
            const bool suspicious = result_.suspicious.contains(i);
            entries.append(
                {run.controller->name, run.controller->port,
                 QString::number(run.controller->address), run.file,
                 suspicious ? suspiciousWord() : QLatin1String(engine::outcomeName(run.outcome)),
                 suspicious ? result_.suspicions[i] : run.error});
            if (counted) {
                added += int(result_.changes[i].cardsAdded.size());
                removed += int(result_.changes[i].cardsRemoved.size());
                changedCards += int(result_.changes[i].cardsChanged.size());
            }
        }
        return hookDetails(entries, {{"KT560AX_OUTCOME", outcome},
                                     {"KT560AX_EXIT", QString::number(result_.status)},
                                     {"KT560AX_SUMMARY", summary},
                                     {"KT560AX_CARDS_ADDED", QString::number(added)},
                                     {"KT560AX_CARDS_REMOVED", QString::number(removed)},
                                     {"KT560AX_CARDS_CHANGED", QString::number(changedCards)}});
    };
    const auto hook = [this](const char* name, const QStringList& command,
                             std::function<HookDetails()> values, const QString& controller) {
        if (!command.isEmpty())
            hooks_.append(
                std::make_shared<HookCall>(HookCall{name, command, std::move(values), controller}));
    };
    for (const int i : std::as_const(result_.failed)) {
        const ControllerRun& run = result_.runs[i];
        if (run.tries == 0)
            continue;
        hook(
            "OnFailure", fleet_.settings.onFailure,
            [this, details, i, outcome = run.outcome] {
                return details({i}, QLatin1String(engine::outcomeName(outcome)),
                               result_.failureLine(i), false);
            },
            run.controller->name);
    }
    // A backup that collapsed needs someone as much as one that failed.
    for (const int i : std::as_const(result_.suspicious))
        hook(
            "OnFailure", fleet_.settings.onFailure,
            [this, details, i] {
                return details({i}, suspiciousWord(), result_.suspicionLine(i), false);
            },
            result_.runs[i].controller->name);
    if (!result_.changed.isEmpty()) {
        QStringList lines{result_.headline()};
        for (const int i : std::as_const(result_.changed))
            lines.append(result_.changeLine(i));
        hook("OnChange", fleet_.settings.onChange,
             [this, details, lines] {
                 return details(result_.changed, QStringLiteral("changed"), lines.join(u'\n'),
                                true);
             },
             {});
    }
    QList<int> all;
    for (qsizetype i = 0; i < result_.runs.size(); ++i)
        all.append(int(i));
    hook("OnDone", fleet_.settings.onDone,
         [this, details, all] {
             return details(
                 all, result_.status == kDone ? QStringLiteral("done") : QStringLiteral("failed"),
                 result_.summary(), true);
         },
         {});
}

void FleetRun::nextHook() {
    // A run told to stop calls no more hooks.
    if (stopped_ || hooks_.isEmpty())
        return finish();
    hook_ = hooks_.takeFirst();
    HookCall& call = *hook_;
    call.values = call.details();
    const QString name = QLatin1String(call.name);
    call.hook = std::make_unique<Hook>(
        call.command, call.values.variables,
        [this, name](const QString& line) { view_.hookOutput(name, line); }, kHookSeconds);
    connect(call.hook.get(), &Hook::ended, this, &FleetRun::hookEnded);
    call.hook->start();
}

void FleetRun::hookEnded() {
    const std::shared_ptr<HookCall> call = std::move(hook_);
    const shell::Status& ran = call->hook->result();
    QJsonObject entry{{"hook", call->name}, {"ok", ran.ok()}};
    if (!call->controller.isEmpty())
        entry.insert("controller", call->controller);
    if (!ran) {
        entry.insert("problem", ran.error().message);
        view_.problem(shell::fillIn(
            QStringLiteral("the %1 hook%2: %3"),
            {QLatin1String(call->name),
             call->controller.isEmpty() ? QString() : " of [" + call->controller + ']',
             ran.error().message}));
    }
    result_.hooks.append(entry);
    // The hook is the sender of the signal being handled.
    call->hook.release()->deleteLater();
    nextHook();
}

void FleetRun::push() {
    // Every run pushes, so that a commit whose push failed goes out with the
    // next one.
    if (stopped_ || !history_ || fleet_.settings.remote.isEmpty() ||
        !result_.historyProblem.isEmpty())
        return pushEnded();
    push_ = GitProcess::push(settings_.program, settings_.fleetFile, fleet_.settings.remote,
                             fleet_.settings.pushTimeoutSeconds);
    connect(push_.get(), &GitProcess::ended, this, &FleetRun::pushEnded);
    push_->start();
}

void FleetRun::pushEnded() {
    if (push_ && !push_->result()) {
        const shell::Status& pushed = push_->result();
        result_.pushProblem = pushed.error().message;
        const QString remote = fleet_.settings.remote.shown();
        view_.problem(shell::fillIn(QStringLiteral("push to %1: %2; the commit goes out with the "
                                                   "next push."),
                                    {remote, result_.pushProblem}));
        // The log is a person's record: one that cannot be written changes
        // nothing of the run.
        (void)engine::JobLog().appendEvent("push", remote,
                                           QStringLiteral("failed: ") + result_.pushProblem);
    }
    recordPush();
    // The pages and the hooks come last, so that they tell of the push too.
    writePages();
    queueHooks();
    nextHook();
}

} // namespace kt::fleet
