#include "transfer_job.h"

#include "backup_file.h"
#include "link/port_settings.h"
#include "link/trace.h"
#include "load_warnings.h"
#include "save_workspace.h"
#include "shell/ini_file.h"
#include "shell/language.h"
#include "shell/text_format.h"
#include "shell/write_problem.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace kt::engine {

namespace {

using shell::MsgAnswer;
using shell::MsgButtons;
using shell::MsgStyle;

QString numberText(long long number) {
    return QString::fromLatin1(shell::numberWithSign(number));
}

// A control character would end or corrupt a request frame; a tab is data.
bool holdsControlCharacter(const QByteArray& value) {
    return std::any_of(value.cbegin(), value.cend(),
                       [](char c) { return static_cast<unsigned char>(c) < 32 && c != '\t'; });
}

// Record keys for a message: the first few, then how many in all.
QString keyList(const QStringList& keys) {
    constexpr qsizetype kShown = 10;
    return keys.size() <= kShown ? keys.join(", ")
                                 : keys.first(kShown).join(", ") +
                                       QStringLiteral(", ... (%1 in all)").arg(keys.size());
}

JobView::Question question(MsgButtons buttons) {
    JobView::Question kind;
    kind.style = MsgStyle::Question;
    kind.buttons = buttons;
    return kind;
}

} // namespace

TransferJob::TransferJob(link::SerialPort& port, link::Clock& clock, JobView& view,
                         const link::LineTimes& times)
    : view_(view), port_(port),
      link_(std::make_unique<link::LinkTransaction>(port, clock, view, times)), clock_(clock),
      setUpCall_(clock) {}

void TransferJob::setLineTimes(const link::LineTimes& times) {
    link_->setTimes(times);
}

bool TransferJob::start(const JobRequest& request) {
    if (blnJobActive || asking_)
        return false;
    // The job's own copy, its categories in the order a job visits them.
    // The file is taken as given: a name may end in a blank.
    JobRequest taken = request;
    taken.categories.clear();
    for (const Category& category : categories())
        if (request.includes(category))
            taken.categories.append(&category);
    address_ = shell::formatDigits(taken.address, 2);
    if (taken.categories.isEmpty())
        return refuse(JobOutcome::NothingChosen, view_.languageText("NothingSelected") + '.');
    const QString& path = taken.file;
    if (path.isEmpty())
        return refuse(JobOutcome::FileError, path + " - " + view_.languageText("FileNoFund") + '.');
    const bool saving = taken.direction == Direction::Save;
    // A Save that was killed is ended first: replacing the set that it
    // began is finished, or what it read is kept beside the set.
    const shell::Result<SaveEnd> left = endLeftSave(path);
    if (!left)
        return refuse(JobOutcome::FileError, fileProblemText(left.error()));
    tellLeftSave(path, *left);
    // Records that an older Save journaled beside the set go into it before
    // a Save writes it; a job that only reads the set takes them in memory.
    if (saving) {
        const shell::Result<int> left = foldLeftJournal(path);
        if (!left)
            return refuse(JobOutcome::FileError, fileProblemText(left.error()));
        if (*left > 0)
            view_.tell(MsgStyle::Information, shell::fillIn(view_.languageText("JournalFolded"),
                                                            {path, QString::number(*left)}) +
                                                  '.');
    }
    // One job at a time on a file set: a second Save would mix two
    // controllers' records into one backup.
    auto lock = std::make_unique<BackupLock>();
    if (const shell::Status locked = lock->take(path, saving); !locked)
        return refuse(JobOutcome::FileError, fileProblemText(locked.error()));
    if (const shell::Status usable = checkBackupFileSet(path, saving); !usable)
        return refuse(JobOutcome::FileError, fileProblemText(usable.error()));
    // A Save replaces the set's files only at its end: one that may not be
    // written is told now, before the controller is read, and no replacing
    // is left half done.
    if (saving)
        for (const QString& file : backupFileSet(path))
            if (const QFileInfo info(file); info.exists() && !info.isWritable())
                return refuse(JobOutcome::FileError, cannotWrite(file));
    // Held by the lock, the set cannot change under the job: it is read
    // once, here, and everything the job decides comes from that reading.
    const shell::Result<SetRecords> set = saving ? SetRecords{} : readSetWithJournal(path);
    if (!set)
        return refuse(JobOutcome::FileError, fileProblemText(set.error()));
    const Manifest manifest = readManifest(path);
    if (!saving && !manifest.titled)
        return refuse(JobOutcome::FileError,
                      path + " - " + view_.languageText("FileFormatError") + '.');
    // A complete backup that a Save replaces: the end message names it.
    auto opening = std::make_shared<Opening>(
        Opening{.request = taken,
                .lock = std::move(lock),
                .set = *set,
                .manifest = manifest,
                .replacing = saving && manifest.complete.value_or(false) && holdsRecords(path)});
    if (opening->replacing && taken.askBeforeReplace)
        return askFirst(replaceQuestion(taken, manifest), question(MsgButtons::ReplaceCancel),
                        opening, [this, opening](bool) { return checkLoad(opening); });
    return checkLoad(opening);
}

bool TransferJob::askFirst(const QString& text, const JobView::Question& kind,
                           const std::shared_ptr<Opening>& opening,
                           std::function<bool(bool ticked)> then) {
    // The answer may come at once, inside ask(), or later from the front
    // end's event loop; `began` keeps what it did for the first case.
    auto began = std::make_shared<std::optional<bool>>();
    asking_ = true;
    view_.ask(text, kind, [this, opening, then, began](MsgAnswer answer, bool ticked) {
        asking_ = false;
        if (answer == MsgAnswer::Ok) {
            *began = then(ticked);
            return;
        }
        outcome_ = JobOutcome::Declined;
        logDeclined(opening->request);
        *began = false;
    });
    return began->value_or(true);
}

bool TransferJob::checkLoad(const std::shared_ptr<Opening>& opening) {
    const JobRequest& taken = opening->request;
    const QString& path = taken.file;
    // The job reads the backup's records from here on.
    stored_ = opening->set;
    strDataFile = path;
    if (taken.direction != Direction::Load)
        return begin(*opening);
    // Every value is checked before the first is sent: a restore never
    // stops half way on a value it could have seen before it began.
    if (const QStringList unsendable = unsendableRecords(taken); !unsendable.isEmpty())
        return refuse(JobOutcome::FileError, shell::fillIn(view_.languageText("ValuesNotSendable"),
                                                           {path, keyList(unsendable)}) +
                                                 '.');
    const std::optional<QString> asked =
        loadQuestion(taken, opening->manifest, backupRecordsOf(opening->set, path));
    if (!asked)
        return begin(*opening);
    JobView::Question kind = question(MsgButtons::RestoreCancel);
    if (taken.offerBackupFirst) {
        kind.option =
            shell::fillIn(view_.languageText("LoadBackupFirst"), {readingTimeText(taken)});
        kind.ticked = true;
    }
    return askFirst(*asked, kind, opening, [this, opening](bool backupFirst) {
        return backupFirst && opening->request.offerBackupFirst ? startBackupFirst(opening->request)
                                                                : begin(*opening);
    });
}

bool TransferJob::begin(Opening& opening) {
    const JobRequest& taken = opening.request;
    const QString& path = taken.file;
    const bool saving = taken.direction == Direction::Save;
    lock_ = std::move(opening.lock);
    // A Save writes nothing into the set before the controller's first
    // reply: see writeSaveHead().
    workingFile_ = saving ? workingFileOf(path) : QString();
    journal_ = saving ? std::make_unique<SaveJournal>(workingFile_, clock_) : nullptr;
    headWritten_ = false;
    replaced_ = opening.replacing ? opening.manifest : std::optional<Manifest>();
    keptIn_.clear();
    keptInFile_.clear();
    untouchedCards_.clear();
    unsendable_.clear();
    thenLoad_.reset();
    backedUpFirst_.clear();
    request_ = taken;
    outcome_ = JobOutcome::None;
    error_.clear();
    intDirection = taken.direction;
    counts_ = {};
    heardController_ = false;
    differences_.clear();
    startedAt_ = localTimeStamp();
    endedAt_.clear();
    for (const Category* category : std::as_const(request_.categories))
        counts_.total += category->recordCount(request_.cardCount);
    qCDebug(ktJob, "job %d: file %s, address %s, %d records", int(intDirection), qPrintable(path),
            address_.constData(), counts_.total);
    view_.showJobRunning(true);
    blnJobActive = true;
    // The job moves once the caller has seen it start.
    setUpCall_.at(clock_.nowMs(), [this] { setUp(); });
    return true;
}

QString TransferJob::fileProblemText(const shell::Error& error) const {
    const char* key = "FileOpenError";
    switch (error.code) {
    case shell::ErrorCode::NotFound:
        key = "FileNoFund";
        break;
    case shell::ErrorCode::NotRegular:
        key = "FileNotRegular";
        break;
    case shell::ErrorCode::TooLarge:
        key = "FileTooLarge";
        break;
    case shell::ErrorCode::Denied:
        key = "FileDenied";
        break;
    case shell::ErrorCode::InUse:
        key = "FileInUse";
        break;
    case shell::ErrorCode::Untrusted:
        key = "FileUntrusted";
        break;
    case shell::ErrorCode::Unwritable:
        return cannotWrite(error.subject, error.reason);
    case shell::ErrorCode::Unreadable:
    case shell::ErrorCode::Invalid:
    case shell::ErrorCode::Unreachable:
        break;
    }
    return error.subject + " - " + view_.languageText(key) + '.';
}

QString TransferJob::cannotWrite(const QString& file, const QString& reason) const {
    QString text = file + " - " + view_.languageText("FileOpenError");
    // What the file system says of the file's place, else the system's own
    // words for the failure.
    QString cause =
        shell::writeProblem(file, [this](const char* key) { return view_.languageText(key); });
    if (cause.isEmpty())
        cause = reason;
    if (!cause.isEmpty())
        text += ": " + cause;
    return text + '.';
}

bool TransferJob::writeSaveHead() {
    if (headWritten_)
        return true;
    QList<QByteArray> keys;
    bool cards = false;
    for (const Category* category : std::as_const(request_.categories)) {
        keys.append(category->languageKey);
        cards = cards || category->cards;
    }
    // The Save's own set, beside the backup it replaces once complete.
    if (const shell::Status made = makeWorkspace(strDataFile); !made)
        return stopWithMessage(cannotWrite(workspaceOf(strDataFile), made.error().reason));
    // Complete=0 until the job has finished, so that a stopped backup is
    // known as such; on disk before the first record can be.
    const shell::Status started = writeSaveStart(
        workingFile_, address_, keys, cards ? std::optional(request_.cardCount) : std::nullopt);
    headWritten_ = started.ok();
    if (!headWritten_)
        return stopWithMessage(cannotWrite(workingFile_, started.error().reason));
    shell::SyncIniDirectory(workingFile_);
    return true;
}

QString TransferJob::replaceQuestion(const JobRequest& request, const Manifest& manifest) const {
    const QDateTime made = manifest.finishedAt();
    const QString controller = QString::fromLatin1(manifest.controller);
    const QString address = QString::fromLatin1(address_);
    return shell::fillIn(view_.languageText("ReplaceAsk"),
                         {request.file, controller.isEmpty() ? "?" : controller,
                          made.isValid() ? made.toLocalTime().toString("yyyy-MM-dd HH:mm") : "?"}) +
           '\n' +
           shell::fillIn(view_.languageText(manifest.controller == address_
                                                ? "ReplaceSameAddress"
                                                : "ReplaceOtherAddress"),
                         {address}) +
           "\n\n" + view_.languageText("ReplaceGoOn");
}

void TransferJob::tellLeftSave(const QString& file, const SaveEnd& left) {
    if (left.kind == SaveEnd::Kind::Replaced)
        view_.tell(MsgStyle::Information, shell::fillIn(view_.languageText("JournalFolded"),
                                                        {file, QString::number(left.records)}) +
                                              '.');
    else if (left.kind == SaveEnd::Kind::KeptBeside)
        view_.tell(MsgStyle::Information, keptBesideText(file, left) + '.');
}

QString TransferJob::keptBesideText(const QString& file, const SaveEnd& kept) const {
    return shell::fillIn(view_.languageText("SaveKeptBeside"),
                         {file, QString::number(kept.records), kept.keptIn});
}

bool TransferJob::endSaveFiles(bool complete) {
    // Not folded, the journal stays with every record for the next job.
    const shell::Status folded = journal_->fold();
    journal_.reset();
    const auto failed = [&](const QString& text) {
        if (!complete)
            return false; // the stop has been told; the next job ends the Save
        outcome_ = JobOutcome::FileError;
        error_ = text;
        return false;
    };
    if (!folded)
        return failed(cannotWrite(workingFile_, folded.error().reason));
    // Complete=1 goes last in the Save's own set, and the set takes it
    // with its main file, last: a backup killed before stays marked as
    // stopped.
    if (const shell::Status ended =
            complete ? writeSaveEnd(workingFile_, counts_.done, unsendable_) : shell::done();
        !ended)
        return failed(cannotWrite(workingFile_, ended.error().reason));
    const shell::Result<SaveEnd> ended = endSave(strDataFile, wallClock());
    if (!ended)
        return failed(fileProblemText(ended.error()));
    if (ended->kind == SaveEnd::Kind::KeptBeside) {
        keptInFile_ = ended->keptIn;
        keptIn_ = keptBesideText(strDataFile, *ended);
    }
    return complete;
}

bool TransferJob::startBackupFirst(const JobRequest& load) {
    JobRequest save = load;
    save.direction = Direction::Save;
    const QFileInfo file(load.file);
    save.file = file.dir().filePath(
        file.completeBaseName() + QStringLiteral(".before-restore-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HHmmss")) +
        QStringLiteral(".KT"));
    save.verifyAfterLoad = save.askBeforeLoad = save.offerBackupFirst = false;
    save.askBeforeReplace = false;
    save.reportFile.clear();
    JobRequest then = load;
    then.offerBackupFirst = then.askBeforeLoad = false;
    then.confirmed = true;
    if (!start(save))
        return false; // said why; nothing was written to the controller
    thenLoad_ = then;
    return true;
}

QString TransferJob::readingTimeText(const JobRequest& request) const {
    int records = 0;
    for (const Category* category : request.categories)
        records += category->recordCount(request.cardCount);
    // The pauses, then some 50 characters on the line at the port's speed.
    const link::LineTimes& times = link_->times();
    const link::PortSettings line = port_.settings().value_or(link::PortSettings{});
    const double secondsPerRecord = (times.txDelayMs + times.rxDelayMs) / 1000.0 +
                                    50.0 * (line.dataBits + 3) / std::max(1, line.baudRate);
    const int seconds = int(std::ceil(records * secondsPerRecord));
    return seconds < 90 ? QStringLiteral("%1 s").arg(std::max(1, seconds))
                        : QStringLiteral("%1 min").arg((seconds + 30) / 60);
}

std::optional<QString> TransferJob::loadQuestion(const JobRequest& request,
                                                 const Manifest& manifest,
                                                 const QMap<QByteArray, QByteArray>& records) {
    if (request.confirmed)
        return std::nullopt;
    // Reasons stop a restore that nobody confirms; notes are only said.
    QStringList reasons;
    QStringList notes;
    for (const LoadWarning& warning : loadWarnings(manifest, cardSlots(records), request))
        (warning.blocking() ? reasons : notes).append(warningText(warning));
    if (reasons.isEmpty() && !request.askBeforeLoad) {
        for (const QString& note : std::as_const(notes))
            view_.tell(MsgStyle::Exclamation, note + '.');
        return std::nullopt;
    }
    reasons += notes;
    QString text;
    if (request.askBeforeLoad) {
        // What is about to be written where, in the same box as the warnings.
        QStringList names;
        for (const Category* category : request.categories)
            names.append(
                view_.languageText(category->languageKey) +
                (category->cards ? QStringLiteral(" (%1)").arg(request.cardCount) : QString()));
        text = shell::fillIn(view_.languageText("LoadConfirm"),
                             {request.file, QString::fromLatin1(address_), names.join(", ")});
        if (!reasons.isEmpty())
            text += "\n\n";
    }
    if (!reasons.isEmpty()) {
        text += view_.languageText("LoadWarning");
        for (const QString& reason : std::as_const(reasons))
            text += "\n- " + reason + '.';
    }
    return text + "\n\n" + view_.languageText(reasons.isEmpty() ? "LoadGoOn" : "LoadAnyway");
}

QString TransferJob::warningText(const LoadWarning& warning) const {
    const QString first = QString::number(warning.first);
    const QString second = QString::number(warning.second);
    switch (warning.kind) {
    case LoadWarning::Kind::Incomplete:
        return view_.languageText("WarnIncomplete");
    case LoadWarning::Kind::CardNumbers:
        return shell::fillIn(view_.languageText("WarnCardNumbers"), {first, second});
    case LoadWarning::Kind::CategoryNotSaved:
        return shell::fillIn(view_.languageText("WarnCategory"),
                             {view_.languageText(warning.category->languageKey)});
    case LoadWarning::Kind::StaleCards:
        break;
    }
    return shell::fillIn(view_.languageText("WarnStaleCards"), {slotList(warning.stale)});
}

void TransferJob::cancel() {
    if (!blnJobActive)
        return;
    qCDebug(ktJob, "cancelled in category %lld, record %lld", qlonglong(categoryAt_),
            qlonglong(recordAt_));
    markEnded();
    outcome_ = JobOutcome::Cancelled;
    blnJobActive = false;
    setUpCall_.cancel();
    if (pending_)
        pending_->cancel(); // its report finds the job ended
    pending_.reset();
    // What it read is kept; should that fail, the next job on the set ends
    // the Save.
    if (journal_)
        (void)endSaveFiles(false); // false: it stopped
    replaced_.reset();
    lock_.reset();
    showStoppedSummary();
    logJob();
    view_.showJobRunning(false);
    emit finished(outcome_);
}

void TransferJob::setUp() {
    link_->resetErrorCount();
    view_.showErrorCount(0);
    progressValue_ = 0;
    view_.showJobCaption(view_.languageText("CommunicationStatus"));
    progressMax_ = 1;
    for (const Category* category : std::as_const(request_.categories))
        progressMax_ += category->progressShare(request_.cardCount);
    view_.showProgress(progressValue_, progressMax_);
    plan_ = planRecords(request_);
    categoryAt_ = 0;
    recordAt_ = 0;
    categoryOpen_ = false;
    proceed();
}

QList<TransferJob::PlannedCategory> TransferJob::planRecords(const JobRequest& request) const {
    QList<PlannedCategory> plan;
    for (const Category* category : request.categories) {
        PlannedCategory planned{category, {}};
        const QString caption = view_.languageText(category->languageKey);
        if (category->cards) {
            planned.records.reserve(request_.cardCount);
            for (int index = 1; index <= request_.cardCount; ++index)
                planned.records.append(
                    {caption + QString::fromLatin1(category->cards->suffix) + numberText(index),
                     {},
                     index});
        }
        for (const RecordBlock& block : category->blocks) {
            const int first = block.digits ? block.first : 0;
            const int last = block.digits ? block.last : 0;
            for (int index = first; index <= last; ++index) {
                for (const RecordGroup& group : block.groups) {
                    QString groupCaption = caption + QString::fromLatin1(group.suffix);
                    if (group.numbered)
                        groupCaption += numberText(group.fixedNumber ? group.fixedNumber : index);
                    groupCaption += QString::fromLatin1(group.trailer);
                    for (const char* code : group.codes) {
                        planned.records.append(
                            {std::exchange(groupCaption, QString()),
                             code + (block.digits ? shell::formatDigits(index, block.digits) : ""),
                             0});
                    }
                }
            }
        }
        plan.append(planned);
    }
    return plan;
}

void TransferJob::proceed() {
    while (blnJobActive) {
        if (categoryAt_ == plan_.size())
            return confirmLine();
        const PlannedCategory& planned = plan_[categoryAt_];
        if (!categoryOpen_) {
            qCDebug(ktJob, "category %s", planned.category->languageKey);
            categoryOpen_ = true;
            emit categoryStarted(planned.category);
            continue; // a listener may have ended the job
        }
        if (recordAt_ == planned.records.size()) {
            if (journal_ && !journalDone(journal_->sync()))
                return;
            emit categoryFinished(planned.category);
            ++categoryAt_;
            recordAt_ = 0;
            categoryOpen_ = false;
            continue;
        }
        const PlannedRecord& record = planned.records[recordAt_];
        if (!record.caption.isEmpty())
            advance(record.caption);
        QByteArray requestText;
        switch (beginRecord(*planned.category, record, requestText)) {
        case RecordStep::Next:
            ++recordAt_;
            continue;
        case RecordStep::Stop:
            return;
        case RecordStep::Send:
            pending_ = link_->lsubTransaction(
                requestText, [this](const link::TxResult& result) { onReply(result); });
            return;
        }
    }
}

void TransferJob::onReply(const link::TxResult& result) {
    // A cancelled request was this job's or an earlier one's, ended by
    // cancel(): the request under way now, if any, is another.
    if (result.status == link::TxResult::Status::Cancelled)
        return;
    pending_.reset();
    if (!blnJobActive || !replyAccepted(result))
        return;
    const PlannedCategory& planned = plan_[categoryAt_];
    if (!completeRecord(*planned.category, planned.records[recordAt_]))
        return;
    ++recordAt_;
    proceed();
}

void TransferJob::confirmLine() {
    pending_ = link_->lsubConfirm(address_, [this](const link::TxResult& result) {
        if (result.status == link::TxResult::Status::Cancelled)
            return; // as in onReply()
        pending_.reset();
        if (blnJobActive && replyAccepted(result))
            finish(true);
    });
}

void TransferJob::finish(bool complete, const QString& failure) {
    markEnded();
    if (complete && intDirection == Direction::Load && request_.verifyAfterLoad) {
        // The restore is done: read it all back in the same job.
        outcome_ = JobOutcome::Finished;
        logJob();
        intDirection = Direction::Verify;
        counts_ = {.total = counts_.total};
        startedAt_ = localTimeStamp();
        endedAt_.clear();
        return setUp();
    }
    progressValue_ = progressMax_;
    view_.showProgress(progressValue_, progressMax_);
    blnJobActive = false;
    qCDebug(ktJob, "%s: %d of %d records done", complete ? "complete" : "stopped", counts_.done,
            counts_.total);
    QString told = failure;
    if (journal_) {
        const bool ended = endSaveFiles(complete);
        if (complete && !ended)
            told = error_; // the set could not take the complete Save
        complete = ended;
    }
    if (!complete)
        replaced_.reset(); // the backup stays as it was
    if (complete)
        outcome_ = differences_.isEmpty() ? JobOutcome::Finished : JobOutcome::Differences;
    shell::SyncIniDirectory(strDataFile);
    lock_.reset();
    logJob();
    // Every message of the end comes once the job has ended and is logged.
    if (!told.isEmpty())
        view_.tell(MsgStyle::Exclamation, told);
    if (thenLoad_ && save()) {
        // The backup before a restore: once it is complete the restore
        // follows in this job; without it nothing is written.
        const JobRequest next = *std::exchange(thenLoad_, std::nullopt);
        if (complete) {
            const QString backup = strDataFile;
            if (start(next)) {
                backedUpFirst_ = backup;
                return;
            }
        } else {
            showStoppedSummary();
            view_.tell(MsgStyle::Exclamation,
                       stoppedSummary() + ".\n" + view_.languageText("BackupFirstStopped") + '.');
        }
        view_.showJobRunning(false);
        emit finished(outcome_);
        return;
    }
    if (complete && verify()) {
        endVerify();
    } else if (complete) {
        const QString summary =
            save()
                ? shell::fillIn(view_.languageText("SaveSummary"),
                                {QString::number(counts_.done), QString::number(counts_.empty)})
                : shell::fillIn(view_.languageText("LoadSummary"),
                                {QString::number(counts_.done), QString::number(counts_.skipped)});
        view_.tell(MsgStyle::Information,
                   view_.languageText(save() ? "ProcessSaveOk" : "ProcessLoadOk") + ".\n" +
                       summary + '.' + endNotes());
    } else {
        showStoppedSummary();
    }
    view_.showJobRunning(false);
    emit finished(outcome_);
}

QString TransferJob::endNotes() const {
    QString notes;
    const auto add = [&](const char* key, const QString& argument) {
        notes += '\n' + shell::fillIn(view_.languageText(key), {argument}) + '.';
    };
    if (save() && replaced_) {
        const QDateTime made = replaced_->finishedAt();
        notes += '\n' +
                 shell::fillIn(view_.languageText("SaveReplaced"),
                               {QString::fromLatin1(replaced_->controller),
                                made.isValid() ? made.toLocalTime().toString("yyyy-MM-dd HH:mm")
                                               : QStringLiteral("?")}) +
                 '.';
    }
    if (save() && !unsendable_.isEmpty()) {
        QStringList keys;
        for (const QByteArray& key : std::as_const(unsendable_))
            keys.append(QString::fromLatin1(key));
        add("SaveUnsendable", keyList(keys));
    }
    if (!save() && !untouchedCards_.isEmpty())
        add("LoadCardsLeft", slotList(untouchedCards_));
    return notes + backedUpNote();
}

QString TransferJob::backedUpNote() const {
    return backedUpFirst_.isEmpty()
               ? QString()
               : '\n' + shell::fillIn(view_.languageText("LoadBackedUpFirst"), {backedUpFirst_}) +
                     '.';
}

void TransferJob::showStoppedSummary() {
    view_.showJobSummary(stoppedSummary());
}

QString TransferJob::stoppedSummary() const {
    const char* key = save() ? "SaveStopped" : verify() ? "VerifyStopped" : "LoadStopped";
    const QString summary = shell::fillIn(
        view_.languageText(key), {QString::number(counts_.done), QString::number(counts_.total)});
    return keptIn_.isEmpty() ? summary : summary + ". " + keptIn_;
}

void TransferJob::endVerify() {
    const int differing = int(differences_.size());
    if (differing == 0) {
        // A compare restored nothing: it says the controller matches.
        const QString matched =
            request_.direction == Direction::Verify
                ? shell::fillIn(view_.languageText("CompareOk"),
                                {QString::fromLatin1(address_), QString::number(counts_.done)})
                : shell::fillIn(view_.languageText("VerifyOk"), {QString::number(counts_.done)});
        view_.tell(MsgStyle::Information, matched + '.' + backedUpNote());
        return;
    }
    QString text =
        shell::fillIn(view_.languageText("VerifyDiffer"), {QString::number(differing)}) + '.';
    if (!request_.reportFile.isEmpty())
        text +=
            '\n' +
            (writeReport()
                 ? shell::fillIn(view_.languageText("VerifyReport"), {request_.reportFile}) + '.'
                 : cannotWrite(request_.reportFile));
    JobView::Question kind;
    kind.style = MsgStyle::Exclamation;
    kind.endsWithDifferences = true;
    view_.ask(text + backedUpNote(), kind, {});
}

shell::Status TransferJob::writeReport() const {
    return writeVerifyReport(request_.reportFile,
                             {.file = strDataFile,
                              .controller = address_,
                              .port = request_.portName,
                              .started = startedAt_,
                              .compared = counts_.done,
                              .differences = differences_,
                              .names = [this](const Category& category) {
                                  return view_.languageText(category.languageKey);
                              }});
}

void TransferJob::logJob() {
    if (!log_)
        return;
    JobEntry entry{.start = startedAt_,
                   .end = endedAt_,
                   .direction = intDirection,
                   .port = request_.portName,
                   .address = request_.address,
                   .file = strDataFile,
                   .categories = request_.categories,
                   .cards = request_.cardCount,
                   .records = counts_.done,
                   .emptyCardSlots = counts_.empty,
                   .failedTries = int(link_->errorCount()),
                   .outcome = outcome_,
                   .error = error_,
                   .differences =
                       verify() ? std::optional(int(differences_.size())) : std::nullopt};
    if (const shell::Status logged = log_->append(entry); !logged)
        emit logFailed(logged.error().message);
}

void TransferJob::logDeclined(const JobRequest& request) {
    if (!log_)
        return;
    if (const shell::Status logged = log_->append(entryOf(request, JobOutcome::Declined)); !logged)
        emit logFailed(logged.error().message);
}

void TransferJob::markEnded() {
    if (endedAt_.isEmpty())
        endedAt_ = localTimeStamp();
}

void TransferJob::advance(const QString& caption) {
    progressValue_ += 1;
    view_.showProgress(progressValue_, progressMax_);
    view_.showJobCaption(caption);
}

bool TransferJob::replyAccepted(const link::TxResult& result) {
    switch (result.status) {
    case link::TxResult::Status::Accepted:
        reply_ = result.data;
        heardController_ = true;
        return true;
    case link::TxResult::Status::PortLost:
        // The port's own words say what went away; retries cannot help.
        return lineFailed(port_.isServer() ? JobOutcome::ServerClosed : JobOutcome::PortLost,
                          port_.errorString(),
                          shell::fillIn(view_.languageText("PortGone"), {port_.errorString()}));
    case link::TxResult::Status::GaveUp:
        if (!result.heard && !heardController_)
            return lineFailed(JobOutcome::NoAnswer,
                              QStringLiteral("no controller answered at address ") + address_,
                              noControllerText());
        return lineFailed(result.heard ? JobOutcome::Garbled : JobOutcome::NoAnswer,
                          QString::number(link::LinkTransaction::kMaxTries) +
                              (result.heard ? QStringLiteral(" tries, no reply could be accepted")
                                            : QStringLiteral(" tries, no reply")),
                          view_.languageText("CommunicationError") + '.');
    case link::TxResult::Status::OutOfOrder:
        return lineFailed(JobOutcome::Garbled,
                          QStringLiteral("the controller's replies came out of order"),
                          view_.languageText("RepliesOutOfOrder") + '.');
    case link::TxResult::Status::Cancelled:
        break;
    }
    return false;
}

void TransferJob::compare(const QByteArray& key, const QByteArray& inFile,
                          const QByteArray& inController) {
    ++counts_.done;
    if (inFile != inController)
        differences_.append({.kind = inFile.isEmpty()         ? RecordDifference::Kind::Added
                                     : inController.isEmpty() ? RecordDifference::Kind::Removed
                                                              : RecordDifference::Kind::Changed,
                             .key = key,
                             .before = inFile,
                             .after = inController});
}

TransferJob::RecordStep TransferJob::beginRecord(const Category& category,
                                                 const PlannedRecord& record,
                                                 QByteArray& requestText) {
    if (verify() && request_.onlyStored && loadValue(category, record).value.isEmpty()) {
        ++counts_.skipped; // read back only what was written
        return RecordStep::Next;
    }
    if (!category.cards) {
        requestText = address_ + record.key;
        if (save() || verify())
            return RecordStep::Send;
        // A record without a value goes out as its read request, which
        // leaves the controller's record as it is; it counts as skipped.
        requestText += loadValue(category, record).value;
        return RecordStep::Send;
    }
    if (save() || verify()) {
        requestText = address_ + category.cards->readCode +
                      shell::formatDigits(record.card, category.cards->digits);
        return RecordStep::Send;
    }
    const LoadValue card = loadValue(category, record);
    if (card.value.isEmpty()) {
        // Nothing stored for this card: nothing is sent, and whatever the
        // controller holds there stays.
        ++counts_.skipped;
        untouchedCards_.append(record.card);
        return RecordStep::Next;
    }
    requestText = address_ + card.key + card.value;
    return RecordStep::Send;
}

TransferJob::LoadValue TransferJob::loadValue(const Category& category,
                                              const PlannedRecord& record) const {
    if (!category.cards)
        return {record.key, shell::trimBlanks(storedValue(strDataFile, record.key))};
    const QByteArray key =
        category.cards->writeCode + shell::formatDigits(record.card, category.cards->digits);
    const QByteArray stored =
        cardRecordOfStoredValue(storedValue(cardFile(strDataFile, record.card), key));
    return {key, stored.size() == kCardRecordLength ? stored : QByteArray()};
}

QStringList TransferJob::unsendableRecords(const JobRequest& request) const {
    QStringList keys;
    for (const PlannedCategory& planned : planRecords(request))
        for (const PlannedRecord& record : planned.records)
            if (const LoadValue load = loadValue(*planned.category, record);
                holdsControlCharacter(load.value))
                keys.append(QString::fromLatin1(load.key));
    return keys;
}

bool TransferJob::completeRecord(const Category& category, const PlannedRecord& record) {
    if (!category.cards) {
        const QByteArray& key = record.key;
        if (save()) {
            const QByteArray value = shell::trimBlanks(reply_);
            if (holdsControlCharacter(value))
                unsendable_.append(key); // stored as it came, and said at the end
            return store(workingFile_, key, value);
        }
        const QByteArray inFile = shell::trimBlanks(storedValue(strDataFile, key));
        if (verify())
            compare(key, inFile, shell::trimBlanks(reply_));
        else
            ++(inFile.isEmpty() ? counts_.skipped : counts_.done);
        return true;
    }
    const QString file = cardFile(save() ? workingFile_ : strDataFile, record.card);
    const QByteArray key =
        category.cards->writeCode + shell::formatDigits(record.card, category.cards->digits);
    if (verify()) {
        // An empty slot equals a missing or unusable stored card.
        QByteArray stored = cardRecordOfStoredValue(storedValue(file, key));
        if (stored.size() != kCardRecordLength)
            stored.clear();
        compare(key, stored, cardRecordOfReply(reply_));
        return true;
    }
    if (!save()) {
        ++counts_.done;
        return true;
    }
    const QByteArray cardRecord = cardRecordOfReply(reply_);
    if (cardRecord.isEmpty()) {
        // The controller holds no card here: an older backup's card must
        // not come back on a restore.
        if (!writeSaveHead())
            return false;
        if (const shell::Status removed = journal_->remove(file, key); !removed)
            return stopWithMessage(cannotWrite(file, removed.error().reason));
        ++counts_.empty;
        return true;
    }
    if (holdsControlCharacter(cardRecord))
        unsendable_.append(key); // stored as it came, and said at the end
    return store(file, key, storedCardValue(cardRecord));
}

bool TransferJob::store(const QString& file, const QByteArray& key, const QByteArray& value) {
    if (!shell::iniCanHold(value))
        return stopWithMessage(
            shell::fillIn(view_.languageText("ReplyNotStorable"), {QString::fromLatin1(key)}) +
            '.');
    if (!writeSaveHead())
        return false;
    if (const shell::Status stored = journal_->set(file, key, value); !stored)
        return stopWithMessage(cannotWrite(file, stored.error().reason));
    ++counts_.done;
    return !journal_->foldDue() || journalDone(journal_->fold());
}

QByteArray TransferJob::storedValue(const QString& file, const QByteArray& key) const {
    const auto values = stored_.find(file);
    return values == stored_.end() ? QByteArray() : values->second.value(key.toUpper());
}

bool TransferJob::journalDone(const shell::Status& status) {
    return status || stopWithMessage(fileProblemText(status.error()));
}

bool TransferJob::lineFailed(JobOutcome outcome, const QString& reason, const QString& text) {
    outcome_ = outcome;
    error_ = reason;
    finish(false, text);
    return false;
}

QString TransferJob::noControllerText() const {
    const QString port = request_.portName.isEmpty() ? QStringLiteral("?") : request_.portName;
    return shell::fillIn(view_.languageText("NoController"), {address_, port}) + ' ' +
           view_.languageText(view_.noAnswerHintKey());
}

bool TransferJob::refuse(JobOutcome outcome, const QString& text) {
    outcome_ = outcome;
    error_ = text;
    view_.tell(MsgStyle::Exclamation, text);
    return false;
}

bool TransferJob::stopWithMessage(const QString& text) {
    outcome_ = JobOutcome::FileError;
    error_ = text;
    finish(false, text);
    return false;
}

} // namespace kt::engine
