// frmKT550AX: the main window. It owns the controls, the serial port and
// the transfer job, shows the port, link and job state, and runs the
// settings panel.
#pragma once

#include "control_states.h"
#include "engine/job_view.h"
#include "engine/transfer_job.h"
#include "image_list.h"
#include "link/clock.h"
#include "link/line_port.h"
#include "shell/settings.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <QTranslator>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QToolButton;

namespace kt::ui {

class NumberBox;
class SettingPanel;

class frmKT550AX : public QMainWindow, public engine::JobView {
    Q_OBJECT
  public:
    // Starts up with the settings and texts of `strIniFile` (Language.ini).
    explicit frmKT550AX(const QString& strIniFile, QWidget* parent = nullptr);
    ~frmKT550AX() override;

    // Captions and the six short texts from the current language's section.
    void lsubApplyLanguage();
    // The mnuProtocol and mnuCommPortActive captions from the port state.
    void lsubShowPortState();
    // Enables the controls that need an open port, and the port menu when closed.
    void lsubPortControls();
    // Disables the controls a running job must not change, or enables them
    // again; shows fraCommStatus exactly while a job runs.
    void lsubSwitchControls(bool jobRunning);

    // The Enabled state of a control by its name (widgets, menus, actions).
    bool isControlEnabled(const QString& name) const;

    // LinkView
    void showEcho(const QByteArray& frame) override;
    void showLinkState(link::LinkState state) override;
    void showErrorCount(std::int32_t count) override;
    void setActivity(bool running) override;
    QString languageText(const char* key) const override;

    // JobView
    // Opens a message box over the window and returns; a box that ends a
    // job keeps the job panel, with its final count, until it closes.
    void ask(const QString& text, const Question& kind, Answered answered) override;
    void showProgress(double value, double max) override;
    void showJobCaption(const QString& caption) override;
    void showJobRunning(bool running) override;
    void showJobSummary(const QString& summary) override;

    // Start a Save job into txtSave's file, or a Load job from txtLoad's,
    // with the choices of the controls; cancel the running job.
    void cmdSave_Click();
    void cmdLoad_Click();
    void cmdCancel_Click();
    // The job the controls ask for.
    engine::JobRequest jobRequest(engine::Direction direction) const;

    engine::TransferJob& job() { return *job_; }
    bool isPortOpen() const;
    // An open of the port has begun and has not ended: the menu entry that
    // closes the port stops it.
    bool isPortOpening() const;
    const shell::Settings& currentSettings() const { return settings; }
    // The link times of the next waits, as given: a test or a benchmark may
    // go below the limits that the settings panel keeps.
    void setLinkTimes(float txDelay, float rxDelay, float rxTimeOut);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    const QString strIniFile;
    shell::Settings settings; // intComPort, strSettings, the times, intLanguage
    QByteArray strLanguage;
    QString strTitle, strTextOk, strTextError, strTextCancel, strTextBusy, strTextOff, strTextOn;

    void buildWindow();
    void buildMenus();
    QWidget* buildLinkSetting();
    QWidget* buildFilePanels();
    QWidget* buildCommStatusPanel();
    void buildStatusBar();
    void updateRightPanel();
    // The rules of when each control may be used.
    void buildControlRules();
    // Every control's Enabled state from the port, a running job and the
    // settings panel.
    void applyControlStates();

    void mnuCom_Click(int index);
    void mnuCommPortActive_Click();
    // What became of the open begun by mnuCommPortActive_Click.
    void portOpened(bool opened);
    // Maps the chosen COMn to a device from a list, or to a typed name.
    void mnuChooseDevice_Click();
    // Why the port cannot be opened, in the chosen language.
    QString portErrorText() const;
    void mnuSetting_Click();
    // Compares the ticked categories of the controller with the backup under
    // "Load file name", writing nothing into either.
    void mnuCompare_Click();
    void mnuJobLog_Click();
    void cmdOk_Click();
    // The port and its settings as messages name them: "COM2:19200,e,8,1".
    QString portText() const;
    void tmrComm_Timer();
    void onPortLost(const QString& description);
    // Fills a path box from a file dialog.
    void browse(QLineEdit* box, bool forSaving);
    // Starts a job of the controls' choices; its file goes into Language.ini
    // under `fileKey`, when given, once the job has started.
    void startJob(engine::Direction direction, const QByteArray& fileKey);
    // Keeps a started job's file, card count and folder in Language.ini.
    void rememberJobChoices();
    // Keeps the ticked categories in Language.ini for the next start.
    void rememberTickedCategories();
    // Says, once a session, that a setting could not be kept.
    void settingsWritten(const shell::Status& written);
    void setStatusPanel(Picture picture, const QString& text, bool raised);
    // The job panel's account of the running job: records done, time spent
    // and left, and the bar, from one count.
    void showJobInfo();
    // Asks whether to stop the running job with the question of `key`
    // ("CloseAsk") and `buttons`; stops it and calls `stopped` when the
    // user says so, or when the job ended meanwhile. One question at a time.
    void askToStop(const char* key, shell::MsgButtons buttons,
                   const std::function<void()>& stopped);

    std::unique_ptr<link::LinePort> mscComm;
    link::EventLoopClock clock_;
    std::unique_ptr<engine::TransferJob> job_;
    engine::JobLog jobLog_;

    QMenu* mnuCommPort = nullptr;
    QAction* mnuCom[shell::kLastComPort + 1] = {}; // by port number
    QAction* mnuChooseDevice = nullptr;
    QAction* mnuCommPortActive = nullptr;
    QAction* mnuSetting = nullptr;
    QMenu* mnuTools = nullptr;
    QAction* mnuCompare = nullptr; // a Verify against the file under "Load file name"
    QAction* mnuJobLog = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuProtocol = nullptr;

    QGroupBox* fraSet = nullptr;
    QLabel* lblControllerIDLabel = nullptr;
    NumberBox* txtControllerID = nullptr;
    QScrollBar* vslControllerID = nullptr;
    NumberBox* txtCardNumber = nullptr;
    QScrollBar* vslCardNumber = nullptr;
    // The check box of each category, in the table's order.
    QList<std::pair<const engine::Category*, QCheckBox*>> categoryBoxes_;

    QWidget* filePanels_ = nullptr;
    QGroupBox* fraSave = nullptr;
    QLabel* lblSave = nullptr;
    QLineEdit* txtSave = nullptr;
    QToolButton* cmdSaveBrowse = nullptr;
    QPushButton* cmdSave = nullptr;
    QGroupBox* fraLoad = nullptr;
    QLabel* lblLoad = nullptr;
    QLineEdit* txtLoad = nullptr;
    QToolButton* cmdLoadBrowse = nullptr;
    QPushButton* cmdLoad = nullptr;

    SettingPanel* fraSetting = nullptr;

    QGroupBox* fraCommStatus = nullptr;
    QLabel* lblJobInfo = nullptr; // which way, where, how far, how long
    QLabel* lblComm = nullptr;
    QProgressBar* prbComm = nullptr;
    QPushButton* cmdCancel = nullptr;

    QLabel* sbrEcho_ = nullptr;
    QLabel* pnlStatusPicture_ = nullptr;
    QLabel* pnlStatusText_ = nullptr;
    QFrame* pnlStatus = nullptr;
    QLabel* sbrErrors_ = nullptr;
    QTimer tmrComm;
    QTranslator qtTranslator_;
    QElapsedTimer jobClock_;
    QElapsedTimer jobInfoShown_;
    QTimer tmrJobInfo_;     // the panel's account, also while nothing moves
    bool jobEnded_ = false; // the running job has ended; its end message is up
    int endMessages_ = 0;   // a job's end messages open or waiting to open
    // The file of the job a click asked for and its Language.ini key, kept
    // once the job starts.
    QByteArray choiceKey_;
    QString choiceFile_;
    bool summaryShown_ = false; // the status bar's left shows how far a stopped job got
    int activityPhase_ = 1;     // the activity picture shown last, 1 or 2
    bool jobRunning_ = false;
    bool stopAsked_ = false;      // the question before a stop is up
    bool settingsWarned_ = false; // a failed write of the settings has been told
    QList<ControlRule> controlRules_;
};

// The caption with `letter` as its keyboard mnemonic (Alt+letter): marked
// where the caption has it, else added as "(&L)" as Chinese captions do.
QString withMnemonic(const QString& caption, QChar letter);

} // namespace kt::ui
