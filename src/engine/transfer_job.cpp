#include "transfer_job.h"

#include "backup_file.h"
#include "shell/ini_file.h"
#include "shell/language.h"
#include "shell/settings.h"
#include "shell/text_format.h"

#include <QFile>
#include <QFileInfo>

namespace kt::engine {

namespace {

QString trimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QString numberText(long long number) {
    return QString::fromLatin1(shell::numberWithSign(number));
}

} // namespace

TransferJob::TransferJob(link::SerialPort& port, link::Clock& clock, JobView& view,
                         const shell::Settings& settings, QString iniFile)
    : view_(view), iniFile_(std::move(iniFile)),
      link_(std::make_unique<link::LinkTransaction>(port, clock, view, settings, intStep)) {
    tmrProcess.setObjectName("tmrProcess");
    tmrProcess.setInterval(10);
    connect(&tmrProcess, &QTimer::timeout, this, &TransferJob::tmrProcess_Timer);
}

bool TransferJob::takeChoices() {
    address_ = shell::formatDigits(view_.controllerId(), 2);
    cardCount_ = view_.cardCount();
    selected_.clear();
    for (const Category& category : categories())
        if (view_.checkValue(category.checkBox) == 1)
            selected_.append(&category);
    if (!selected_.isEmpty())
        return true;
    view_.showMessage(3, 1, view_.languageText("NothingSelected") + '.');
    return false;
}

bool TransferJob::isSelected(const Category& category) const {
    return selected_.contains(&category);
}

void TransferJob::cmdSave_Click() {
    if (blnJobActive || !takeChoices())
        return;
    const QString path = trimBlanks(view_.saveFileText());
    if (!writeSaveHead(path)) {
        view_.showMessage(3, 1, path + " - " + view_.languageText("FileOpenError") + '.');
        return;
    }
    start(0, "SaveFile", path);
}

bool TransferJob::writeSaveHead(const QString& path) {
    // A new file appears with its title and Complete=0 in one step.
    const bool existed = QFileInfo::exists(path);
    if (path.isEmpty() ||
        !createPrivateFile(path, QByteArray("[HEAD]\r\nTitle=") + kTitle + "\r\nComplete=0\r\n"))
        return false;
    QList<QByteArray> keys;
    for (const Category* category : std::as_const(selected_))
        keys.append(category->languageKey);
    const auto head = [&](const char* key, const QByteArray& value) {
        return shell::WriteIni(path, kHeadSection, key, value);
    };
    // The title first, as the Windows program expects it; Complete=0 until
    // the job has finished, so that a stopped backup is known as such.
    const bool cards = std::any_of(selected_.cbegin(), selected_.cend(),
                                   [](const Category* c) { return c->userCards; });
    const bool written = head(kTitleKey, kTitle) && head(kCompleteKey, "0") &&
                         head(kStartedKey, localTimeStamp()) && head(kControllerKey, address_) &&
                         head(kCategoriesKey, keys.join(',')) &&
                         (cards ? head(kCardsKey, QByteArray::number(cardCount_))
                                : shell::RemoveIni(path, kHeadSection, kCardsKey)) &&
                         shell::RemoveIni(path, kHeadSection, kFinishedKey) &&
                         shell::RemoveIni(path, kHeadSection, kRecordsKey);
    if (!written && !existed)
        QFile::remove(path);
    return written;
}

void TransferJob::cmdLoad_Click() {
    if (blnJobActive || !takeChoices())
        return;
    const QString path = trimBlanks(view_.loadFileText());
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir()) {
        view_.showMessage(3, 1, path + " - " + view_.languageText("FileNoFund") + '.');
        return;
    }
    const QByteArray title = shell::trimBlanks(shell::ReadIni(path, kHeadSection, kTitleKey));
    if (title != kTitle || shell::lngIniResult == 0) {
        view_.showMessage(3, 1, view_.languageText("FileFormatError") + '.');
        return;
    }
    if (confirmLoad(path))
        start(1, "LoadFile", path);
}

bool TransferJob::confirmLoad(const QString& path) {
    const auto head = [&](const char* key) {
        return shell::trimBlanks(shell::ReadIni(path, kHeadSection, key));
    };
    QStringList reasons;
    if (head(kCompleteKey) == "0")
        reasons.append(view_.languageText("WarnIncomplete"));
    const QByteArray fileCards = head(kCardsKey);
    for (const Category* category : std::as_const(selected_)) {
        if (category->userCards && !fileCards.isEmpty() &&
            cardCount_ > shell::leadingNumber(fileCards))
            reasons.append(
                shell::fillIn(view_.languageText("WarnCardCount"),
                              {QString::number(cardCount_), QString::fromLatin1(fileCards)}));
    }
    const QByteArray savedCategories = head(kCategoriesKey);
    if (!savedCategories.isEmpty()) {
        QList<QByteArray> saved;
        for (const QByteArray& key : savedCategories.split(','))
            saved.append(key.trimmed().toLower());
        for (const Category* category : std::as_const(selected_))
            if (!saved.contains(QByteArray(category->languageKey).toLower()))
                reasons.append(shell::fillIn(view_.languageText("WarnCategory"),
                                             {view_.languageText(category->languageKey)}));
    }
    if (reasons.isEmpty())
        return true;
    QString text = view_.languageText("LoadWarning");
    for (const QString& reason : std::as_const(reasons))
        text += "\n- " + reason + '.';
    text += "\n\n" + view_.languageText("LoadAnyway");
    return view_.showMessage(2, 0, text) == 1;
}

void TransferJob::start(int direction, const char* pathKey, const QString& path) {
    strDataFile = path;
    shell::WriteIni(iniFile_, shell::kSystemSection, pathKey, path.toUtf8());
    intDirection = direction;
    counts_ = {};
    for (const Category* category : std::as_const(selected_))
        counts_.total += category->recordCount(cardCount_);
    ++jobSerial_;
    view_.showJobRunning(true);
    blnJobActive = true;
    intStep = 1;
    tmrProcess.start();
}

void TransferJob::cmdCancel_Click() {
    if (!blnJobActive)
        return;
    blnJobActive = false;
    link_->blnLinkEnabled = false;
    tmrProcess.stop();
    shell::SyncIniDirectory(strDataFile);
    showStoppedSummary();
    view_.showJobRunning(false);
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
    else if (intStep == 1)
        stepSetUp();
    else if (const Category* category = categoryOfStep(intStep))
        category->userCards ? stepUserCards(*category) : stepCategory(*category);
    inTick_ = false;
}

void TransferJob::stepSetUp() {
    link_->lngErrorCount = 0;
    view_.showErrorCount(0);
    progressValue_ = 0;
    view_.showJobCaption(view_.languageText("CommunicationStatus"));
    link_->blnLinkEnabled = true;
    progressMax_ = 1;
    intStep = 2;
    for (const Category* category : std::as_const(selected_))
        progressMax_ += category->progressShare(cardCount_);
    view_.showProgress(progressValue_, progressMax_);
}

void TransferJob::stepCategory(const Category& category) {
    strCaption_ = view_.languageText(category.languageKey);
    if (!isSelected(category)) {
        intStep = category.nextStep;
        return;
    }
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
                        return;
                }
            }
        }
    }
    if (alive())
        intStep = category.nextStep;
}

void TransferJob::stepUserCards(const Category& category) {
    strCaption_ = view_.languageText(category.languageKey);
    if (!isSelected(category)) {
        intStep = category.nextStep;
        return;
    }
    for (int index = 1; index <= cardCount_; ++index) {
        advance(strCaption_ + QStringLiteral("- Card No: ") + numberText(index));
        if (!transferCard(index))
            return;
    }
    if (alive())
        intStep = category.nextStep;
}

void TransferJob::stepEnd(bool finished) {
    progressValue_ = progressMax_;
    view_.showProgress(progressValue_, progressMax_);
    link_->blnLinkEnabled = false;
    blnJobActive = false;
    tmrProcess.stop();
    // Complete=1 goes last: a backup killed before it stays marked as
    // stopped.
    if (finished && intDirection == 0) {
        const auto head = [&](const char* key, const QByteArray& value) {
            return shell::WriteIni(strDataFile, kHeadSection, key, value);
        };
        finished = head(kFinishedKey, localTimeStamp()) &&
                   head(kRecordsKey, QByteArray::number(counts_.done)) && head(kCompleteKey, "1");
        if (!finished)
            view_.showMessage(3, 1,
                              strDataFile + " - " + view_.languageText("FileOpenError") + '.');
    }
    shell::SyncIniDirectory(strDataFile);
    if (finished) {
        const QString summary =
            intDirection == 0
                ? shell::fillIn(view_.languageText("SaveSummary"),
                                {QString::number(counts_.done), QString::number(counts_.empty)})
                : shell::fillIn(view_.languageText("LoadSummary"),
                                {QString::number(counts_.done), QString::number(counts_.skipped)});
        view_.showMessage(4, 1,
                          view_.languageText(intDirection ? "ProcessLoadOk" : "ProcessSaveOk") +
                              ".\n" + summary + '.');
    } else {
        showStoppedSummary();
    }
    view_.showJobRunning(false);
}

void TransferJob::showStoppedSummary() {
    view_.showJobSummary(
        shell::fillIn(view_.languageText(intDirection ? "LoadStopped" : "SaveStopped"),
                      {QString::number(counts_.done), QString::number(counts_.total)}));
}

void TransferJob::advance(const QString& caption) {
    progressValue_ += 1;
    view_.showProgress(progressValue_, progressMax_);
    view_.showJobCaption(caption);
}

bool TransferJob::transferRecord(const QByteArray& key) {
    if (intDirection == 0) {
        link_->lsubTransaction(address_ + key);
        if (!alive() || link_->blnCommError)
            return false;
        return store(strDataFile, key, shell::trimBlanks(link_->strRxData));
    }
    // A record without a value goes out as its read request, which leaves
    // the controller's record as it is; it counts as skipped.
    const QByteArray value = shell::trimBlanks(shell::ReadIni(strDataFile, kDataSection, key));
    link_->lsubTransaction(address_ + key + value);
    if (!alive() || link_->blnCommError)
        return false;
    ++(value.isEmpty() ? counts_.skipped : counts_.done);
    return true;
}

bool TransferJob::transferCard(int index) {
    const QString file = cardFile(strDataFile, index);
    const QByteArray digits = shell::formatDigits(index, 4);
    const QByteArray key = "HA" + digits;
    if (intDirection != 0) {
        const QByteArray record = cardRecordOfStoredValue(shell::ReadIni(file, kDataSection, key));
        if (record.size() != kCardRecordLength) {
            ++counts_.skipped; // nothing stored for this card: nothing is sent
            return true;
        }
        link_->lsubTransaction(address_ + key + record);
        if (!alive() || link_->blnCommError)
            return false;
        ++counts_.done;
        return true;
    }
    link_->lsubTransaction(address_ + "HB" + digits);
    if (!alive() || link_->blnCommError)
        return false;
    const QByteArray record = cardRecordOfReply(link_->strRxData);
    if (record.isEmpty()) {
        // The controller holds no card here: an older backup's card must
        // not come back on a restore.
        if (!shell::RemoveIni(file, kDataSection, key))
            return stopWithMessage(file + " - " + view_.languageText("FileOpenError") + '.');
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
    if (!createPrivateFile(file) || !shell::WriteIni(file, kDataSection, key, value))
        return stopWithMessage(file + " - " + view_.languageText("FileOpenError") + '.');
    ++counts_.done;
    return true;
}

bool TransferJob::stopWithMessage(const QString& text) {
    link_->blnLinkEnabled = false;
    intStep = kAbortedStep;
    view_.showMessage(3, 1, text);
    return false;
}

} // namespace kt::engine
