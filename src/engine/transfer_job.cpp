#include "transfer_job.h"

#include "backup_file.h"
#include "link/trace.h"
#include "load_warnings.h"
#include "shell/ini_file.h"
#include "shell/language.h"
#include "shell/settings.h"
#include "shell/text_format.h"
#include "shell/write_problem.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace kt::engine {

namespace {

using shell::MsgAnswer;
using shell::MsgButtons;
using shell::MsgStyle;

QString numberText(long long number) {
    return QString::fromLatin1(shell::numberWithSign(number));
}

} // namespace

TransferJob::TransferJob(link::SerialPort& port, link::Clock& clock, JobView& view,
                         const shell::Settings& settings)
    : view_(view), port_(port),
      link_(std::make_unique<link::LinkTransaction>(port, clock, view, settings)) {
    tmrProcess.setObjectName("tmrProcess");
    tmrProcess.setInterval(10);
    connect(&tmrProcess, &QTimer::timeout, this, &TransferJob::tmrProcess_Timer);
}

bool TransferJob::start(const JobRequest& request) {
    if (blnJobActive)
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
    // Records of a Save that was killed go into the set before a Save
    // writes it; a job that only reads the set takes them in memory.
    if (saving) {
        const shell::Result<int> left = foldLeftJournal(path);
        if (!left)
            return refuse(JobOutcome::FileError, fileProblemText(left.error()));
        if (*left > 0)
            view_.showMessage(
                MsgStyle::Information, MsgButtons::Ok,
                shell::fillIn(view_.languageText("JournalFolded"), {path, QString::number(*left)}) +
                    '.');
    }
    // One job at a time on a file set: a second Save would mix two
    // controllers' records into one backup.
    auto lock = std::make_unique<BackupLock>();
    if (const shell::Status locked = lock->take(path, saving); !locked)
        return refuse(JobOutcome::FileError, fileProblemText(locked.error()));
    if (const shell::Status usable = checkBackupFileSet(path, saving); !usable)
        return refuse(JobOutcome::FileError, fileProblemText(usable.error()));
    // Held by the lock, the set cannot change under the job: it is read
    // once, here, and everything the job decides comes from that reading.
    const shell::Result<SetRecords> set = saving ? SetRecords{} : readSetWithJournal(path);
    if (!set)
        return refuse(JobOutcome::FileError, fileProblemText(set.error()));
    const Manifest manifest = saving ? Manifest{} : readManifest(path);
    if (!saving && !manifest.titled)
        return refuse(JobOutcome::FileError, view_.languageText("FileFormatError") + '.');
    if (taken.direction == Direction::Load &&
        !confirmLoad(taken, manifest, backupRecordsOf(*set, path))) {
        outcome_ = JobOutcome::Declined;
        return false;
    }

    lock_ = std::move(lock);
    // A Save writes nothing into the set before the controller's first
    // reply: see writeSaveHead().
    journal_ = saving ? std::make_unique<SaveJournal>(path) : nullptr;
    headWritten_ = false;
    stored_ = *set;
    request_ = taken;
    outcome_ = JobOutcome::None;
    error_.clear();
    strDataFile = path;
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
    ++jobSerial_;
    view_.showJobRunning(true);
    blnJobActive = true;
    intStep = kSetUpStep;
    tmrProcess.start();
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
        return cannotWrite(error.subject);
    case shell::ErrorCode::Unreadable:
    case shell::ErrorCode::Invalid:
    case shell::ErrorCode::Unreachable:
        break;
    }
    return error.subject + " - " + view_.languageText(key) + '.';
}

QString TransferJob::cannotWrite(const QString& file) const {
    QString text = file + " - " + view_.languageText("FileOpenError");
    const QString cause =
        shell::writeProblem(file, [this](const char* key) { return view_.languageText(key); });
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
    // Complete=0 until the job has finished, so that a stopped backup is
    // known as such; on disk before the first record can be.
    headWritten_ = writeSaveStart(strDataFile, address_, keys,
                                  cards ? std::optional(request_.cardCount) : std::nullopt)
                       .ok();
    if (!headWritten_)
        return stopWithMessage(cannotWrite(strDataFile));
    shell::SyncIniDirectory(strDataFile);
    return true;
}

bool TransferJob::confirmLoad(const JobRequest& request, const Manifest& manifest,
                              const QMap<QByteArray, QByteArray>& records) {
    // Reasons stop a restore that nobody confirms; notes are only said.
    QStringList reasons;
    QStringList notes;
    for (const LoadWarning& warning : loadWarnings(manifest, cardSlots(records), request))
        (warning.blocking() ? reasons : notes).append(warningText(warning));
    if (reasons.isEmpty() && !request.askBeforeLoad) {
        for (const QString& note : std::as_const(notes))
            view_.showMessage(MsgStyle::Exclamation, MsgButtons::Ok, note + '.');
        return true;
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
    text += "\n\n" + view_.languageText(reasons.isEmpty() ? "LoadGoOn" : "LoadAnyway");
    return view_.showMessage(MsgStyle::Question, MsgButtons::RestoreCancel, text) == MsgAnswer::Ok;
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
    qCDebug(ktJob, "cancelled at step %d", intStep);
    markEnded();
    outcome_ = JobOutcome::Cancelled;
    blnJobActive = false;
    link_->disable();
    tmrProcess.stop();
    // A journal that cannot be folded now stays, with every record, for
    // the next job that opens the set.
    if (journal_)
        (void)journal_->fold(); // not folded, the journal stays for the next job
    journal_.reset();
    shell::SyncIniDirectory(strDataFile);
    lock_.reset();
    showStoppedSummary();
    logJob();
    view_.showJobRunning(false);
    emit finished(outcome_);
}

void TransferJob::tmrProcess_Timer() {
    // A step waits on the link with events running: ticks must not nest.
    if (!blnJobActive || inTick_)
        return;
    inTick_ = true;
    tickSerial_ = jobSerial_;
    if (intStep == kAbortedStep)
        stepEnd(false);
    else if (intStep == kFinishedStep)
        stepEnd(true);
    else if (intStep == kSetUpStep)
        stepSetUp();
    else
        stepCategory(categories()[intStep - kFirstCategoryStep]);
    inTick_ = false;
}

int TransferJob::nextStep(int step) const {
    for (int index = std::max(0, step + 1 - kFirstCategoryStep); index < categories().size();
         ++index)
        if (request_.includes(categories()[index]))
            return kFirstCategoryStep + index;
    return kFinishedStep;
}

void TransferJob::stepSetUp() {
    link_->resetErrorCount();
    view_.showErrorCount(0);
    progressValue_ = 0;
    view_.showJobCaption(view_.languageText("CommunicationStatus"));
    link_->enable();
    progressMax_ = 1;
    intStep = nextStep(kSetUpStep);
    for (const Category* category : std::as_const(request_.categories))
        progressMax_ += category->progressShare(request_.cardCount);
    view_.showProgress(progressValue_, progressMax_);
}

void TransferJob::stepCategory(const Category& category) {
    strCaption_ = view_.languageText(category.languageKey);
    qCDebug(ktJob, "step %d: %s", intStep, category.languageKey);
    emit categoryStarted(&category);
    if (!alive())
        return;
    if (category.cards ? !transferCards(category) : !transferBlocks(category))
        return;
    if (!alive() || (journal_ && !journalDone(journal_->sync())))
        return;
    emit categoryFinished(&category);
    intStep = nextStep(intStep);
}

bool TransferJob::transferBlocks(const Category& category) {
    for (const RecordBlock& block : category.blocks) {
        const int first = block.digits ? block.first : 0;
        const int last = block.digits ? block.last : 0;
        for (int index = first; index <= last; ++index) {
            for (const RecordGroup& group : block.groups) {
                QString caption = strCaption_ + QString::fromLatin1(group.suffix);
                if (group.numbered)
                    caption += numberText(group.fixedNumber ? group.fixedNumber : index);
                advance(caption + QString::fromLatin1(group.trailer));
                for (const char* code : group.codes) {
                    const QByteArray key =
                        code + (block.digits ? shell::formatDigits(index, block.digits) : "");
                    if (!transferRecord(key))
                        return false;
                }
            }
        }
    }
    return true;
}

bool TransferJob::transferCards(const Category& category) {
    for (int index = 1; index <= request_.cardCount; ++index) {
        advance(strCaption_ + QString::fromLatin1(category.cards->suffix) + numberText(index));
        if (!transferCard(*category.cards, index))
            return false;
    }
    return true;
}

void TransferJob::stepEnd(bool complete) {
    markEnded();
    if (complete && intDirection == Direction::Load && request_.verifyAfterLoad) {
        // The restore is done: read it all back in the same job.
        outcome_ = JobOutcome::Finished;
        logJob();
        intDirection = Direction::Verify;
        counts_ = {.total = counts_.total};
        startedAt_ = localTimeStamp();
        endedAt_.clear();
        intStep = kSetUpStep;
        return;
    }
    progressValue_ = progressMax_;
    view_.showProgress(progressValue_, progressMax_);
    link_->disable();
    blnJobActive = false;
    tmrProcess.stop();
    qCDebug(ktJob, "%s: %d of %d records done", complete ? "complete" : "stopped", counts_.done,
            counts_.total);
    if (journal_) {
        // Not folded, the journal stays with every record for the next job.
        const bool folded = journal_->fold().ok();
        journal_.reset();
        if (!folded && complete) {
            complete = false;
            outcome_ = JobOutcome::FileError;
            error_ = cannotWrite(strDataFile);
            view_.showMessage(MsgStyle::Exclamation, MsgButtons::Ok, error_);
        }
    }
    // Complete=1 goes last: a backup killed before it stays marked as
    // stopped.
    if (complete && save()) {
        complete = writeSaveEnd(strDataFile, counts_.done).ok();
        if (!complete) {
            outcome_ = JobOutcome::FileError;
            error_ = cannotWrite(strDataFile);
            view_.showMessage(MsgStyle::Exclamation, MsgButtons::Ok, error_);
        }
    }
    if (complete)
        outcome_ = differences_.isEmpty() ? JobOutcome::Finished : JobOutcome::Differences;
    shell::SyncIniDirectory(strDataFile);
    lock_.reset();
    if (complete && verify()) {
        endVerify();
    } else if (complete) {
        const QString summary =
            save()
                ? shell::fillIn(view_.languageText("SaveSummary"),
                                {QString::number(counts_.done), QString::number(counts_.empty)})
                : shell::fillIn(view_.languageText("LoadSummary"),
                                {QString::number(counts_.done), QString::number(counts_.skipped)});
        view_.showMessage(MsgStyle::Information, MsgButtons::Ok,
                          view_.languageText(save() ? "ProcessSaveOk" : "ProcessLoadOk") + ".\n" +
                              summary + '.');
    } else {
        showStoppedSummary();
    }
    logJob();
    view_.showJobRunning(false);
    emit finished(outcome_);
}

void TransferJob::showStoppedSummary() {
    view_.showJobSummary(stoppedSummary());
}

QString TransferJob::stoppedSummary() const {
    const char* key = save() ? "SaveStopped" : verify() ? "VerifyStopped" : "LoadStopped";
    return shell::fillIn(view_.languageText(key),
                         {QString::number(counts_.done), QString::number(counts_.total)});
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
        view_.showMessage(MsgStyle::Information, MsgButtons::Ok, matched + '.');
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
    view_.showMessage(MsgStyle::Exclamation, MsgButtons::Ok, text);
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

void TransferJob::markEnded() {
    if (endedAt_.isEmpty())
        endedAt_ = localTimeStamp();
}

void TransferJob::advance(const QString& caption) {
    progressValue_ += 1;
    view_.showProgress(progressValue_, progressMax_);
    view_.showJobCaption(caption);
}

bool TransferJob::transact(const QByteArray& requestText) {
    const link::TxResult result = link_->lsubTransaction(requestText);
    if (!alive())
        return false;
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

bool TransferJob::transferRecord(const QByteArray& key) {
    if (save())
        return transact(address_ + key) && store(strDataFile, key, shell::trimBlanks(reply_));
    if (verify()) {
        if (!transact(address_ + key))
            return false;
        compare(key, shell::trimBlanks(storedValue(strDataFile, key)), shell::trimBlanks(reply_));
        return true;
    }
    // A record without a value goes out as its read request, which leaves
    // the controller's record as it is; it counts as skipped.
    const QByteArray value = shell::trimBlanks(storedValue(strDataFile, key));
    if (!canSend(key, value))
        return false;
    if (!transact(address_ + key + value))
        return false;
    ++(value.isEmpty() ? counts_.skipped : counts_.done);
    return true;
}

bool TransferJob::transferCard(const CardRecords& cards, int index) {
    const QString file = cardFile(strDataFile, index);
    const QByteArray digits = shell::formatDigits(index, cards.digits);
    const QByteArray key = cards.writeCode + digits;
    if (verify()) {
        if (!transact(address_ + cards.readCode + digits))
            return false;
        // An empty slot equals a missing or unusable stored card.
        QByteArray stored = cardRecordOfStoredValue(storedValue(file, key));
        if (stored.size() != kCardRecordLength)
            stored.clear();
        compare(key, stored, cardRecordOfReply(reply_));
        return true;
    }
    if (!save()) {
        const QByteArray record = cardRecordOfStoredValue(storedValue(file, key));
        if (record.size() != kCardRecordLength) {
            ++counts_.skipped; // nothing stored for this card: nothing is sent
            return true;
        }
        if (!canSend(key, record))
            return false;
        if (!transact(address_ + key + record))
            return false;
        ++counts_.done;
        return true;
    }
    if (!transact(address_ + cards.readCode + digits))
        return false;
    const QByteArray record = cardRecordOfReply(reply_);
    if (record.isEmpty()) {
        // The controller holds no card here: an older backup's card must
        // not come back on a restore.
        if (!writeSaveHead())
            return false;
        if (!journal_->remove(file, key))
            return stopWithMessage(cannotWrite(file));
        ++counts_.empty;
        return true;
    }
    return store(file, key, storedCardValue(record));
}

bool TransferJob::store(const QString& file, const QByteArray& key, const QByteArray& value) {
    if (!shell::iniCanHold(value))
        return stopWithMessage(
            shell::fillIn(view_.languageText("ReplyNotStorable"), {QString::fromLatin1(key)}) +
            '.');
    if (!writeSaveHead())
        return false;
    if (!journal_->set(file, key, value))
        return stopWithMessage(cannotWrite(file));
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

bool TransferJob::canSend(const QByteArray& key, const QByteArray& value) {
    // A control character would end or corrupt the request frame; a tab is
    // data.
    const bool control = std::any_of(value.cbegin(), value.cend(), [](char c) {
        return static_cast<unsigned char>(c) < 32 && c != '\t';
    });
    if (!control)
        return true;
    return stopWithMessage(
        shell::fillIn(view_.languageText("ValueNotSendable"), {QString::fromLatin1(key)}) + '.');
}

bool TransferJob::lineFailed(JobOutcome outcome, const QString& reason, const QString& text) {
    markEnded();
    intStep = kAbortedStep;
    outcome_ = outcome;
    error_ = reason;
    view_.showMessage(MsgStyle::Exclamation, MsgButtons::Ok, text);
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
    view_.showMessage(MsgStyle::Exclamation, MsgButtons::Ok, text);
    return false;
}

bool TransferJob::stopWithMessage(const QString& text) {
    markEnded();
    link_->disable();
    intStep = kAbortedStep;
    outcome_ = JobOutcome::FileError;
    error_ = text;
    view_.showMessage(MsgStyle::Exclamation, MsgButtons::Ok, text);
    return false;
}

} // namespace kt::engine
