#include "transfer_job.h"

#include "backup_file.h"
#include "shell/ini_file.h"
#include "shell/settings.h"
#include "shell/text_format.h"

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

void TransferJob::cmdSave_Click() {
    if (blnJobActive)
        return;
    const QString path = trimBlanks(view_.saveFileText());
    if (!shell::WriteIni(path, kHeadSection, kTitleKey, kTitle)) {
        view_.showMessage(3, 1, view_.languageText("FileOpenError") + '.');
        return;
    }
    start(0, "SaveFile", path);
}

void TransferJob::cmdLoad_Click() {
    if (blnJobActive)
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
    start(1, "LoadFile", path);
}

void TransferJob::start(int direction, const char* pathKey, const QString& path) {
    strDataFile = path;
    shell::WriteIni(iniFile_, shell::kSystemSection, pathKey, path.toUtf8());
    intDirection = direction;
    view_.switchControls();
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
    view_.switchControls();
}

void TransferJob::tmrProcess_Timer() {
    // A step waits on the link with events running: ticks must not nest.
    if (!blnJobActive || inTick_)
        return;
    inTick_ = true;
    if (intStep == kAbortedStep)
        stepEnd(false);
    else if (intStep == kFinishedStep)
        stepEnd(true);
    else if (intStep == 1)
        stepSetUp();
    else if (const Category* category = categoryOfStep(intStep))
        category->userCards ? stepUserCards() : stepCategory(*category);
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
    for (const Category& category : categories())
        if (view_.checkValue(category.checkBox) == 1)
            progressMax_ += category.progressShare(view_.cardCount());
    view_.showProgress(progressValue_, progressMax_);
}

void TransferJob::stepCategory(const Category& category) {
    strCaption_ = view_.languageText(category.languageKey);
    if (view_.checkValue(category.checkBox) != 1) {
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
    intStep = category.nextStep;
}

void TransferJob::stepUserCards() {
    strCaption_ = view_.languageText("UserCardDatabase");
    const Category& category = *categoryOfStep(7);
    if (view_.checkValue(category.checkBox) != 1) {
        intStep = category.nextStep;
        return;
    }
    const int count = view_.cardCount();
    for (int index = 1; index <= count; ++index) {
        advance(strCaption_ + QStringLiteral("- Card No: ") + numberText(index));
        if (!transferCard(index))
            return;
    }
    intStep = category.nextStep;
}

void TransferJob::stepEnd(bool finished) {
    progressValue_ = progressMax_;
    view_.showProgress(progressValue_, progressMax_);
    link_->blnLinkEnabled = false;
    blnJobActive = false;
    tmrProcess.stop();
    shell::SyncIniDirectory(strDataFile);
    if (finished)
        view_.showMessage(
            4, 1, view_.languageText(intDirection ? "ProcessLoadOk" : "ProcessSaveOk") + '.');
    view_.switchControls();
}

void TransferJob::advance(const QString& caption) {
    progressValue_ += 1;
    view_.showProgress(progressValue_, progressMax_);
    view_.showJobCaption(caption);
}

QByteArray TransferJob::address() const {
    return shell::formatDigits(view_.controllerId(), 2);
}

bool TransferJob::transferRecord(const QByteArray& key) {
    if (intDirection == 0) {
        link_->lsubTransaction(address() + key);
        if (!blnJobActive || link_->blnCommError)
            return false;
        return stopOnWriteFailure(
            shell::WriteIni(strDataFile, kDataSection, key, shell::trimBlanks(link_->strRxData)),
            strDataFile);
    }
    const QByteArray value = shell::trimBlanks(shell::ReadIni(strDataFile, kDataSection, key));
    link_->lsubTransaction(address() + key + value);
    return blnJobActive && !link_->blnCommError;
}

bool TransferJob::transferCard(int index) {
    const QString file = cardFile(strDataFile, index);
    const QByteArray digits = shell::formatDigits(index, 4);
    const QByteArray key = "HA" + digits;
    if (intDirection != 0) {
        const QByteArray record = shell::trimBlanks(shell::ReadIni(file, kDataSection, key));
        if (record.size() != kCardRecordLength)
            return true; // nothing stored for this card: nothing is sent
        link_->lsubTransaction(address() + key + record);
        return blnJobActive && !link_->blnCommError;
    }
    link_->lsubTransaction(address() + "HB" + digits);
    if (!blnJobActive || link_->blnCommError)
        return false;
    const QByteArray reply = shell::trimBlanks(link_->strRxData);
    if (reply.size() >= kCardRecordLength)
        return stopOnWriteFailure(shell::WriteIni(file, kDataSection, key,
                                                  shell::trimBlanks(reply.left(kCardRecordLength))),
                                  file);
    // The controller holds no card here: an older backup's card must not
    // come back on a restore.
    return stopOnWriteFailure(shell::RemoveIni(file, kDataSection, key), file);
}

bool TransferJob::stopOnWriteFailure(bool written, const QString& file) {
    if (written)
        return true;
    link_->blnLinkEnabled = false;
    intStep = kAbortedStep;
    view_.showMessage(3, 1, file + " - " + view_.languageText("FileOpenError") + '.');
    return false;
}

} // namespace kt::engine
