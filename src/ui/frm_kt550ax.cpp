#include "frm_kt550ax.h"

#include "device_list.h"
#include "differences_window.h"
#include "engine/backup_file.h"
#include "engine/record_compare.h"
#include "file_choice.h"
#include "frm_msg_box.h"
#include "job_log_window.h"
#include "link/port_naming.h"
#include "link/trace.h"
#include "number_box.h"
#include "setting_panel.h"
#include "shell/ini_file.h"
#include "shell/language.h"
#include "shell/text_format.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QToolButton>
#include <algorithm>
#include <cstdio>

namespace kt::ui {

QString withMnemonic(const QString& caption, QChar letter) {
    if (caption.isEmpty() || caption.contains(u'&'))
        return caption;
    const qsizetype at = caption.indexOf(letter, 0, Qt::CaseInsensitive);
    if (at >= 0)
        return caption.left(at) + u'&' + caption.mid(at);
    return caption + QStringLiteral("(&%1)").arg(letter);
}

frmKT550AX::frmKT550AX(const QString& iniFile, QWidget* parent)
    : QMainWindow(parent), strIniFile(iniFile) {
    buildWindow();
    mscComm = std::make_unique<link::LinePort>(strIniFile);
    mscComm->setObjectName("mscComm");
    connect(mscComm.get(), &link::SerialPort::lost, this, &frmKT550AX::onPortLost);
    job_ = std::make_unique<engine::TransferJob>(*mscComm, clock_, *this, link::LineTimes{});
    job_->setJobLog(&jobLog_);
    // A log that cannot be written stops nothing: it is said where a
    // technician's terminal shows it.
    connect(job_.get(), &engine::TransferJob::logFailed, this, [](const QString& reason) {
        std::fprintf(stderr, "kt560ax-backup: the job log: %s\n", qPrintable(reason));
    });
    connect(cmdSave, &QPushButton::clicked, this, &frmKT550AX::cmdSave_Click);
    connect(cmdLoad, &QPushButton::clicked, this, &frmKT550AX::cmdLoad_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmKT550AX::cmdCancel_Click);
    // Escape stops a running job once the user says so.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, [this] {
        if (job_->isActive())
            askToStop("CancelAsk", shell::MsgButtons::StopJobGoOn, [] {});
    });

    tmrComm.setObjectName("tmrComm");
    tmrComm.setInterval(200);
    connect(&tmrComm, &QTimer::timeout, this, &frmKT550AX::tmrComm_Timer);
    tmrJobInfo_.setInterval(500);
    connect(&tmrJobInfo_, &QTimer::timeout, this, &frmKT550AX::showJobInfo);

    // Start-up, in order.
    settings = shell::readSettings(strIniFile);
    job_->setLineTimes(link::lineTimesOf(settings));
    txtSave->setText(settings.saveFile);
    txtLoad->setText(settings.loadFile);
    mnuCom[settings.intComPort]->setChecked(true);
    lsubApplyLanguage();
    lsubShowPortState();
    lsubPortControls();
    setStatusPanel(Picture::CommOff, strTextOff, false);
    sbrErrors_->setText(QStringLiteral("0"));
    vslControllerID->setValue(1);
    vslCardNumber->setValue(settings.cardCount);
    // The categories ticked when the program last ran, kept from now on.
    for (const auto& [category, box] : std::as_const(categoryBoxes_)) {
        box->setChecked(std::any_of(settings.tickedCategories.cbegin(),
                                    settings.tickedCategories.cend(), [&](const QByteArray& key) {
                                        return key.compare(category->languageKey,
                                                           Qt::CaseInsensitive) == 0;
                                    }));
        connect(box, &QCheckBox::stateChanged, this, &frmKT550AX::rememberTickedCategories);
    }
}

frmKT550AX::~frmKT550AX() = default;

void frmKT550AX::lsubApplyLanguage() {
    const QByteArray section = shell::languageSection(settings.intLanguage);
    if (!section.isEmpty())
        strLanguage = section;
    const auto text = [this](const char* key) { return languageText(key); };
    strTitle = text("LinkKT550AX");
    setWindowTitle(strTitle.trimmed());
    strTextOk = text("OK");
    strTextError = text("Error");
    strTextCancel = text("Cancel");
    strTextBusy = text("Busy");
    strTextOff = text("OFF");
    strTextOn = text("ON");
    setMessageButtonTexts({.ok = withMnemonic(strTextOk.trimmed(), u'O'),
                           .cancel = withMnemonic(strTextCancel.trimmed(), u'C'),
                           .restore = withMnemonic(text("ButtonRestore"), u'R'),
                           .replace = withMnemonic(text("ButtonReplace"), u'R'),
                           .stop = withMnemonic(text("ButtonStopClose"), u'S'),
                           .goOn = withMnemonic(text("ButtonGoOn"), u'G'),
                           .stopJob = withMnemonic(text("ButtonStop"), u'S')});
    // Qt's own dialogs (file, device choice) in the same language, the
    // three sections of Language.ini in their order.
    static const char* const qtTranslations[] = {"qtbase_en", "qtbase_zh_TW", "qtbase_zh_CN"};
    QCoreApplication::removeTranslator(&qtTranslator_);
    const int language = settings.intLanguage;
    if (language >= 0 && language <= 2 &&
        qtTranslator_.load(QLatin1String(qtTranslations[language]),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator_);

    mnuCommPort->setTitle(withMnemonic(text("ComPort"), u'C'));
    mnuChooseDevice->setText(withMnemonic(text("ChooseDevice"), u'D'));
    // Alt+S starts a backup.
    mnuSetting->setText(withMnemonic(text("Setting"), u'E'));
    mnuTools->setTitle(withMnemonic(text("Tools"), u'T'));
    mnuCompare->setText(withMnemonic(text("CompareWithBackup"), u'B'));
    mnuJobLog->setText(withMnemonic(text("LogTitle"), u'J'));
    mnuExit->setText(withMnemonic(text("Exit"), u'X'));
    fraSet->setTitle(text("LinkSetting"));
    lblControllerIDLabel->setText(text("ControllerID"));
    for (const auto& [category, box] : std::as_const(categoryBoxes_))
        box->setText(text(category->languageKey));
    fraSetting->applyLanguage(text, withMnemonic(strTextOk.trimmed(), u'O'));
    fraCommStatus->setTitle(text("CommunicationStatus"));
    cmdCancel->setText(withMnemonic(strTextCancel.trimmed(), u'C'));
    fraSave->setTitle(text("SaveFile"));
    lblSave->setText(text("SaveFileName"));
    fraLoad->setTitle(text("LoadFile"));
    lblLoad->setText(text("LoadFileName"));

    // Names for screen readers and tooltips, from the same texts.
    cmdSave->setToolTip(fraSave->title());
    cmdSave->setAccessibleName(fraSave->title());
    cmdLoad->setToolTip(fraLoad->title());
    cmdLoad->setAccessibleName(fraLoad->title());
    QString browse = text("Browse");
    if (browse.isEmpty())
        browse = QStringLiteral("…");
    cmdSave->setShortcut(QKeySequence(QStringLiteral("Alt+S")));
    cmdLoad->setShortcut(QKeySequence(QStringLiteral("Alt+L")));
    for (QToolButton* button : {cmdSaveBrowse, cmdLoadBrowse}) {
        button->setToolTip(browse);
        button->setAccessibleName(browse);
    }
    txtSave->setAccessibleName(lblSave->text());
    txtLoad->setAccessibleName(lblLoad->text());
    vslControllerID->setAccessibleName(lblControllerIDLabel->text());
    txtControllerID->setAccessibleName(lblControllerIDLabel->text());
    for (const auto& [category, box] : std::as_const(categoryBoxes_)) {
        if (category->cards) {
            vslCardNumber->setAccessibleName(box->text());
            txtCardNumber->setAccessibleName(box->text());
        }
    }
    prbComm->setAccessibleName(fraCommStatus->title());
    lblComm->setAccessibleName(fraCommStatus->title());
    pnlStatus->setAccessibleName(QStringLiteral("Link state"));
}

QString frmKT550AX::portText() const {
    return shell::fillIn(QStringLiteral("COM%1:%2"),
                         {QString::number(settings.intComPort),
                          QString::fromLatin1(shell::trimBlanks(settings.strSettings))});
}

void frmKT550AX::lsubShowPortState() {
    mnuProtocol->setText(
        QStringLiteral("  [ %1 ]   <%2>").arg(portText(), isPortOpen() ? strTextOn : strTextOff));
    mnuCommPortActive->setText(withMnemonic(
        languageText(isPortOpen() || isPortOpening() ? "CloseComPort" : "OpenComPort"), u'P'));
    // Each port item shows the line it maps to.
    for (int i = shell::kFirstComPort; i <= shell::kLastComPort; ++i)
        mnuCom[i]->setText(shell::fillIn(QStringLiteral("COM %1   %2"),
                                         {QString::number(i), link::deviceForPort(i, strIniFile)}));
}

void frmKT550AX::lsubPortControls() {
    applyControlStates();
}

void frmKT550AX::lsubSwitchControls(bool jobRunning) {
    jobRunning_ = jobRunning;
    applyControlStates();
}

void frmKT550AX::buildControlRules() {
    const unsigned port = kOpenPort;
    const unsigned portIdle = kOpenPort | kNoJob;
    controlRules_ = {{mnuCommPort->menuAction(), kClosedPort | kNoJob},
                     {mnuCommPortActive, kNoJob},
                     {mnuSetting, kNoJob | kPanelClosed},
                     {mnuCompare, kOpenPort | kNoJob},
                     {mnuJobLog, kNoJob},
                     {mnuExit, kNoJob},
                     {fraSet, port},
                     {lblControllerIDLabel, port},
                     {txtControllerID, portIdle},
                     {vslControllerID, portIdle},
                     {txtCardNumber, portIdle},
                     {vslCardNumber, portIdle}};
    for (const auto& [category, box] : std::as_const(categoryBoxes_))
        controlRules_.append({box, portIdle});
    controlRules_.append({mnuChooseDevice, kClosedPort | kNoJob});
    const QList<QObject*> panels = {fraSave, lblSave, fraLoad, lblLoad};
    for (QObject* control : panels)
        controlRules_.append({control, port});
    const QList<QObject*> jobStarts = {txtSave, cmdSaveBrowse, cmdSave,
                                       txtLoad, cmdLoadBrowse, cmdLoad};
    for (QObject* control : jobStarts)
        controlRules_.append({control, portIdle});
    // The settings panel changes nothing while a job runs.
    const QList<QObject*> settingPanel = fraSetting->controls();
    for (QObject* control : settingPanel)
        controlRules_.append({control, kNoJob});
}

// The port's own state: it closes itself when its device or server goes.
bool frmKT550AX::isPortOpen() const {
    return mscComm->isOpen();
}

bool frmKT550AX::isPortOpening() const {
    return mscComm->isOpening();
}

void frmKT550AX::applyControlStates() {
    applyControlRules(controlRules_, {.portOpen = isPortOpen(),
                                      .jobRunning = jobRunning_,
                                      .panelOpen = !fraSetting->isHidden()});
    fraCommStatus->setVisible(jobRunning_);
    updateRightPanel();
}

bool frmKT550AX::isControlEnabled(const QString& name) const {
    if (name == QLatin1String("mnuCommPort"))
        return mnuCommPort->menuAction()->isEnabled();
    // A widget's own flag: a control inside a disabled frame keeps it.
    if (const QWidget* widget = findChild<QWidget*>(name))
        return !widget->testAttribute(Qt::WA_ForceDisabled);
    const QObject* control = findChild<QObject*>(name);
    return control && control->property("enabled").toBool();
}

void frmKT550AX::updateRightPanel() {
    filePanels_->setVisible(fraSetting->isHidden() && fraCommStatus->isHidden());
}

void frmKT550AX::mnuCom_Click(int index) {
    settings.intComPort = index;
    settingsWritten(shell::writeComPort(strIniFile, index));
    for (int i = shell::kFirstComPort; i <= shell::kLastComPort; ++i)
        mnuCom[i]->setChecked(i == index);
    lsubShowPortState();
}

void frmKT550AX::mnuCommPortActive_Click() {
    if (isPortOpen() || isPortOpening()) {
        mscComm->close();
        setStatusPanel(Picture::CommOff, strTextOff, false);
    } else {
        // Number and settings are checked before the open: a failure leaves the port closed.
        const QByteArray settingsText = shell::trimBlanks(settings.strSettings);
        if (mscComm->setPortNumber(settings.intComPort) && mscComm->setSettings(settingsText))
            mscComm->startOpen(clock_, [this](bool opened) { portOpened(opened); });
        else
            return portOpened(false);
    }
    lsubShowPortState();
    lsubPortControls();
}

void frmKT550AX::portOpened(bool opened) {
    if (!opened) {
        QApplication::beep();
        setStatusPanel(Picture::CommError, strTextError, false);
        ShowMessage(this, strTitle, shell::MsgStyle::Critical, shell::MsgButtons::Ok,
                    portText() + QStringLiteral("\r\n\r\n          ") + portErrorText());
    } else {
        setStatusPanel(Picture::CommOk, strTextOk, false);
    }
    lsubShowPortState();
    lsubPortControls();
}

QString frmKT550AX::portErrorText() const {
    using E = link::SerialPort::OpenError;
    const QString device = mscComm->errorDevice();
    QString text;
    switch (mscComm->openError()) {
    case E::Missing:
        text = shell::fillIn(languageText("PortMissing"), {device});
        break;
    case E::Denied:
        // No group to join: the administrator grants access.
        text = mscComm->errorGroup().isEmpty()
                   ? shell::fillIn(languageText("PortDeniedAdmin"), {device})
                   : shell::fillIn(languageText("PortDenied"), {device, mscComm->errorGroup()});
        break;
    case E::Busy:
        text = shell::fillIn(languageText("PortBusy"), {device});
        break;
    case E::Server:
        text = shell::fillIn(languageText("ServerFailed"), {device});
        break;
    case E::None:
    case E::Other:
        text = shell::fillIn(
            languageText("PortFailed"),
            {QStringLiteral("COM%1").arg(settings.intComPort), mscComm->errorString().trimmed()});
        break;
    }
    // The details, in English, as a tooltip would give them.
    return text.isEmpty() ? mscComm->errorString().trimmed() : text + '.';
}

void frmKT550AX::mnuChooseDevice_Click() {
    const QString current = link::deviceForPort(settings.intComPort, strIniFile);
    QStringList lines = serialDeviceLines();
    if (!lines.contains(current))
        lines.prepend(current);
    bool ok = false;
    const QString chosen = QInputDialog::getItem(
        this, languageText("ChooseDevice"),
        QStringLiteral("COM%1 (tcp://HOST:PORT, rfc2217://HOST:PORT):").arg(settings.intComPort),
        lines, int(lines.indexOf(current)), true, &ok);
    const QString name = portNameOfLine(chosen);
    if (!ok || name.isEmpty())
        return;
    settingsWritten(shell::WriteIni(strIniFile, shell::kCommSection,
                                    "COM" + QByteArray::number(settings.intComPort),
                                    name.toUtf8()));
    lsubShowPortState();
}

void frmKT550AX::onPortLost(const QString& description) {
    setStatusPanel(Picture::CommError, strTextError, false);
    lsubShowPortState();
    // A running job gives up on its own and reports it; the controls follow
    // the closed port when it has ended.
    if (job_->isActive())
        return;
    lsubPortControls();
    ShowMessage(this, strTitle, shell::MsgStyle::Critical, shell::MsgButtons::Ok,
                portText() + QStringLiteral("\r\n\r\n          ") + description.trimmed());
}

void frmKT550AX::mnuSetting_Click() {
    if (jobRunning_)
        return;
    fraSetting->open();
    applyControlStates();
}

void frmKT550AX::cmdOk_Click() {
    if (jobRunning_)
        return;
    settings.clampTimes();
    job_->setLineTimes(link::lineTimesOf(settings));
    settingsWritten(shell::writePanelSettings(strIniFile, settings));
    lsubApplyLanguage();
    lsubShowPortState();
    pnlStatusText_->setText(isPortOpen() ? strTextOn : strTextOff);
    // The whole status bar speaks the new language at once.
    if (summaryShown_)
        showJobSummary(job_->stoppedSummary());
    fraSetting->hide();
    applyControlStates();
}

void frmKT550AX::tmrComm_Timer() {
    activityPhase_ = activityPhase_ == 1 ? 2 : 1;
    pnlStatusPicture_->setPixmap(
        picture(activityPhase_ == 1 ? Picture::Comm1 : Picture::Comm2, 16, devicePixelRatioF()));
}

void frmKT550AX::setStatusPanel(Picture which, const QString& text, bool raised) {
    pnlStatus->setFrameShadow(raised ? QFrame::Raised : QFrame::Sunken);
    pnlStatusPicture_->setPixmap(picture(which, 16, devicePixelRatioF()));
    pnlStatusText_->setText(text);
}

void frmKT550AX::browse(QLineEdit* box, bool forSaving) {
    const QString title = (forSaving ? fraSave : fraLoad)->title();
    const QString filter = QStringLiteral("KT560AX backup (*.KT);;All files (*)");
    const QString start = browseStart(box->text(), settings.lastFolder, forSaving);
    const QString path = forSaving ? QFileDialog::getSaveFileName(this, title, start, filter)
                                   : QFileDialog::getOpenFileName(this, title, start, filter);
    if (path.isEmpty())
        return;
    box->setText(QDir::toNativeSeparators(path));
    // A backup chosen for a restore proposes its own card count, in view;
    // the technician may change it before the restore.
    if (!forSaving) {
        const int cards = engine::backupCardCount(path);
        if (cards >= 1 && cards <= vslCardNumber->maximum())
            vslCardNumber->setValue(cards);
    }
}

void frmKT550AX::showEcho(const QByteArray& frame) {
    summaryShown_ = false;
    sbrEcho_->setText(link::displayBytes(frame));
    sbrEcho_->setToolTip(sbrEcho_->text());
}

void frmKT550AX::showLinkState(link::LinkState state) {
    switch (state) {
    case link::LinkState::Busy:
        setStatusPanel(Picture::Comm1, strTextBusy, true);
        break;
    case link::LinkState::Ok:
        setStatusPanel(Picture::CommOk, strTextOk, false);
        break;
    case link::LinkState::Error:
        setStatusPanel(Picture::CommError, strTextError, false);
        break;
    case link::LinkState::Idle:
        if (isPortOpen())
            setStatusPanel(Picture::CommOk, strTextOk, false);
        else
            setStatusPanel(Picture::CommOff, strTextOff, false);
        break;
    }
}

void frmKT550AX::showErrorCount(std::int32_t count) {
    sbrErrors_->setText(QString::number(count));
}

void frmKT550AX::setActivity(bool running) {
    if (running)
        tmrComm.start();
    else
        tmrComm.stop();
}

QString frmKT550AX::languageText(const char* key) const {
    return shell::languageText(strIniFile, strLanguage, key);
}

void frmKT550AX::ask(const QString& text, const Question& kind, Answered answered) {
    // A message while the panel shows a job that is no longer active ends
    // that job: the panel behind the box keeps its final count and time.
    const bool endsJob = jobRunning_ && !job_->isActive();
    if (endsJob) {
        showJobInfo();
        jobEnded_ = true;
        tmrJobInfo_.stop();
        ++endMessages_;
    }
    // The end of a job that found differences offers to show them.
    MsgDetails details;
    if (kind.endsWithDifferences)
        details = {withMnemonic(languageText("ButtonShowDifferences"), u'D'),
                   [this, differences = job_->differences()](QWidget* box) {
                       auto* window = new DifferencesWindow(
                           differences, [this](const char* key) { return languageText(key); }, box);
                       window->setAttribute(Qt::WA_DeleteOnClose);
                       window->open();
                       return window;
                   }};
    ShowMessage(this, strTitle, kind.style, kind.buttons, text,
                [this, endsJob, answered](shell::MsgAnswer answer, bool ticked) {
                    if (endsJob && --endMessages_ == 0 && !job_->isActive())
                        lsubSwitchControls(false);
                    if (answered)
                        answered(answer, ticked);
                },
                details, {kind.option, kind.ticked});
}

engine::JobRequest frmKT550AX::jobRequest(engine::Direction direction) const {
    engine::JobRequest request;
    request.direction = direction;
    // Blanks typed around a name in the box are not part of it.
    request.file = (direction == engine::Direction::Save ? txtSave : txtLoad)->text().trimmed();
    request.address = vslControllerID->value();
    request.cardCount = vslCardNumber->value();
    request.portName =
        link::portAndLine(QStringLiteral("COM%1").arg(settings.intComPort), strIniFile);
    request.askBeforeLoad = direction == engine::Direction::Load;
    request.offerBackupFirst = direction == engine::Direction::Load;
    request.askBeforeReplace = direction == engine::Direction::Save;
    request.verifyAfterLoad = direction == engine::Direction::Load && settings.verifyAfterLoad;
    if (request.verifyAfterLoad || direction == engine::Direction::Verify) {
        // The differences go beside the backup: /backup/site.KT gives
        // /backup/site.verify.txt.
        const QFileInfo backup(request.file.trimmed());
        request.reportFile = backup.dir().filePath(backup.completeBaseName() + ".verify.txt");
    }
    for (const auto& [category, box] : categoryBoxes_)
        if (checkValue(box->checkState()) == 1)
            request.categories.append(category);
    return request;
}

void frmKT550AX::cmdSave_Click() {
    startJob(engine::Direction::Save, "SaveFile");
}

void frmKT550AX::cmdLoad_Click() {
    startJob(engine::Direction::Load, "LoadFile");
}

void frmKT550AX::startJob(engine::Direction direction, const QByteArray& fileKey) {
    const engine::JobRequest request = jobRequest(direction);
    choiceKey_ = fileKey;
    choiceFile_ = request.file;
    job_->start(request);
}

void frmKT550AX::rememberJobChoices() {
    settings.lastFolder = QFileInfo(choiceFile_).absolutePath();
    settingsWritten(
        shell::writeJobChoices(strIniFile, choiceKey_, choiceFile_, vslCardNumber->value()));
}

void frmKT550AX::rememberTickedCategories() {
    QByteArrayList keys;
    for (const auto& [category, box] : std::as_const(categoryBoxes_))
        if (checkValue(box->checkState()) == 1)
            keys.append(category->languageKey);
    settingsWritten(shell::writeTickedCategories(strIniFile, keys));
}

void frmKT550AX::settingsWritten(const shell::Status& written) {
    if (written || settingsWarned_)
        return;
    settingsWarned_ = true;
    ShowMessage(this, strTitle, shell::MsgStyle::Exclamation, shell::MsgButtons::Ok,
                shell::fillIn(languageText("SettingsNotSaved"), {written.error().message}) + '.');
}

void frmKT550AX::mnuCompare_Click() {
    startJob(engine::Direction::Verify, {});
}

void frmKT550AX::mnuJobLog_Click() {
    auto* window = new JobLogWindow(
        jobLog_, [this](const char* key) { return languageText(key); }, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->open();
}

void frmKT550AX::setLinkTimes(float txDelay, float rxDelay, float rxTimeOut) {
    settings.sngTxDelay = txDelay;
    settings.sngRxDelay = rxDelay;
    settings.sngRxTimeOut = rxTimeOut;
    job_->setLineTimes(link::lineTimesOf(settings));
}

void frmKT550AX::cmdCancel_Click() {
    job_->cancel();
}

void frmKT550AX::showProgress(double, double) {
    // The bar counts records, as the panel's text does, not the job's steps.
    if (!jobInfoShown_.isValid() || jobInfoShown_.elapsed() >= 250)
        showJobInfo();
}

void frmKT550AX::askToStop(const char* key, shell::MsgButtons buttons,
                           const std::function<void()>& stopped) {
    if (stopAsked_)
        return;
    stopAsked_ = true;
    QString text = shell::fillIn(languageText(key), {QString::number(job_->processed()),
                                                     QString::number(job_->counts().total)});
    if (job_->direction() == engine::Direction::Load)
        text += '\n' + languageText("CloseAskRestore");
    ShowMessage(this, strTitle, shell::MsgStyle::Question, buttons, text,
                [this, stopped](shell::MsgAnswer answer, bool) {
                    stopAsked_ = false;
                    // A job that ended while the question was up needs no stop.
                    if (answer == shell::MsgAnswer::Ok || !job_->isActive()) {
                        job_->cancel();
                        stopped();
                    }
                });
}

void frmKT550AX::showJobInfo() {
    if (jobEnded_)
        return;
    jobInfoShown_.start();
    const engine::JobRequest& request = job_->request();
    const QString address = QString::fromLatin1(shell::formatDigits(request.address, 2));
    const QString file = lblJobInfo->fontMetrics().elidedText(request.file, Qt::ElideMiddle, 320);
    // A verify that follows a restore checks it; one asked for alone compares.
    const char* key = job_->direction() == engine::Direction::Save     ? "JobSave"
                      : job_->direction() == engine::Direction::Load   ? "JobLoad"
                      : request.direction == engine::Direction::Verify ? "CompareJob"
                                                                       : "JobVerify";
    const QString where = job_->direction() == engine::Direction::Load
                              ? shell::fillIn(languageText(key), {file, address})
                              : shell::fillIn(languageText(key), {address, file});
    const auto clock = [](qint64 ms) {
        const qint64 s = (ms + 500) / 1000;
        return shell::fillIn(
            QStringLiteral("%1:%2"),
            {QString::number(s / 60), QString::number(s % 60).rightJustified(2, u'0')});
    };
    const int done = job_->processed();
    const int total = job_->counts().total;
    prbComm->setRange(0, std::max(total, 1));
    prbComm->setValue(std::min(done, total));
    const qint64 elapsed = jobClock_.elapsed();
    const QString left = done > 0 ? clock(elapsed * (total - done) / done) : QStringLiteral("?");
    lblJobInfo->setText(
        where + '\n' +
        shell::fillIn(languageText("JobProgress"),
                      {QString::number(done), QString::number(total), clock(elapsed), left}));
    lblJobInfo->setToolTip(request.file);
}

void frmKT550AX::showJobCaption(const QString& caption) {
    lblComm->setText(caption);
}

void frmKT550AX::showJobRunning(bool running) {
    if (running) {
        jobEnded_ = false;
        jobClock_.start();
        showJobInfo();
        tmrJobInfo_.start(); // the time runs on while a record is retried
        if (!choiceKey_.isEmpty())
            rememberJobChoices();
        choiceKey_.clear();
        lsubSwitchControls(true);
        return;
    }
    tmrJobInfo_.stop();
    // Under its end message the panel stays until the message closes.
    if (endMessages_ == 0)
        lsubSwitchControls(false);
}

void frmKT550AX::showJobSummary(const QString& summary) {
    summaryShown_ = true;
    sbrEcho_->setText(summary);
    sbrEcho_->setToolTip(summary);
}

void frmKT550AX::closeEvent(QCloseEvent* event) {
    // A running job is stopped only when the user says so: a restore
    // stopped half way leaves the controller part-written.
    if (job_->isActive()) {
        event->ignore();
        askToStop("CloseAsk", shell::MsgButtons::StopGoOn, [this] { close(); });
        return;
    }
    // Nothing is sent or written after the close.
    job_->cancel();
    tmrComm.stop();
    mscComm->close();
    event->accept();
}

} // namespace kt::ui
