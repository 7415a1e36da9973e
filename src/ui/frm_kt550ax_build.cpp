// Creation and arrangement of the main window's controls.
#include "frm_kt550ax.h"
#include "number_box.h"
#include "setting_panel.h"

#include "shell/language.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace kt::ui {

namespace {

template <typename T> T* named(T* object, const QString& name) {
    object->setObjectName(name);
    return object;
}

NumberBox* numberBox(const QString& name, int minimum, int maximum, int digits) {
    auto* box = named(new NumberBox(minimum, maximum, digits), name);
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 8);
    return box;
}

} // namespace

void frmKT550AX::buildWindow() {
    setObjectName("frmKT550AX");
    setWindowTitle(QStringLiteral("KT560AX Data Backup System V2.00"));
    buildMenus();

    auto* central = new QWidget;
    auto* body = new QHBoxLayout(central);
    body->setContentsMargins(8, 8, 8, 8);
    body->setSpacing(8);
    body->addWidget(buildLinkSetting());

    // The settings panel and the job panel take the place of the file panels.
    auto* right = new QWidget;
    auto* stack = new QGridLayout(right);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(buildFilePanels(), 0, 0);
    fraSetting = new SettingPanel(settings);
    connect(fraSetting, &SettingPanel::accepted, this, &frmKT550AX::cmdOk_Click);
    stack->addWidget(fraSetting, 0, 0);
    stack->addWidget(buildCommStatusPanel(), 0, 0);
    right->setMinimumWidth(360);
    body->addWidget(right, 1);
    setCentralWidget(central);
    buildStatusBar();
    buildControlRules();
    updateRightPanel();
}

void frmKT550AX::buildMenus() {
    QMenuBar* bar = menuBar();
    mnuCommPort = named(bar->addMenu(QStringLiteral("Com Port")), "mnuCommPort");
    auto* ports = new QActionGroup(this);
    ports->setExclusive(true);
    for (int i = shell::kFirstComPort; i <= shell::kLastComPort; ++i) {
        mnuCom[i] = named(mnuCommPort->addAction(QStringLiteral("COM %1").arg(i)),
                          QStringLiteral("mnuCom(%1)").arg(i));
        mnuCom[i]->setCheckable(true);
        ports->addAction(mnuCom[i]);
        connect(mnuCom[i], &QAction::triggered, this, [this, i] { mnuCom_Click(i); });
    }
    mnuCommPort->addSeparator();
    mnuChooseDevice =
        named(mnuCommPort->addAction(QStringLiteral("Choose device…")), "mnuChooseDevice");
    connect(mnuChooseDevice, &QAction::triggered, this, &frmKT550AX::mnuChooseDevice_Click);
    mnuCommPortActive = named(bar->addAction(QStringLiteral("Open Com Port")), "mnuCommPortActive");
    connect(mnuCommPortActive, &QAction::triggered, this, &frmKT550AX::mnuCommPortActive_Click);
    mnuSetting = named(bar->addAction(QStringLiteral("Setting")), "mnuSetting");
    connect(mnuSetting, &QAction::triggered, this, &frmKT550AX::mnuSetting_Click);
    mnuTools = named(bar->addMenu(QStringLiteral("Tools")), "mnuTools");
    mnuCompare = named(mnuTools->addAction(QStringLiteral("Compare with backup")), "mnuCompare");
    connect(mnuCompare, &QAction::triggered, this, &frmKT550AX::mnuCompare_Click);
    mnuJobLog = named(mnuTools->addAction(QStringLiteral("Job log")), "mnuJobLog");
    connect(mnuJobLog, &QAction::triggered, this, &frmKT550AX::mnuJobLog_Click);
    mnuExit = named(bar->addAction(QStringLiteral("Exit")), "mnuExit");
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
    // A status display: the port and its settings, and whether it is open.
    mnuProtocol = named(bar->addAction(QStringLiteral("Communication")), "mnuProtocol");
}

QWidget* frmKT550AX::buildLinkSetting() {
    fraSet = named(new QGroupBox(QStringLiteral("Link Setting")), "fraSet");
    auto* layout = new QGridLayout(fraSet);
    layout->setVerticalSpacing(4);

    lblControllerIDLabel =
        named(new QLabel(QStringLiteral("Controller ID:")), "lblControllerIDLabel");
    txtControllerID = numberBox("txtControllerID", 1, 99, 2);
    lblControllerIDLabel->setBuddy(txtControllerID);
    vslControllerID = named(new QScrollBar(Qt::Vertical), "vslControllerID");
    vslControllerID->setRange(1, 99);
    vslControllerID->setSingleStep(1);
    vslControllerID->setPageStep(10);
    vslControllerID->setValue(1);
    vslControllerID->setFixedHeight(txtControllerID->sizeHint().height() + 12);
    txtControllerID->follow(vslControllerID);
    auto* idRow = new QHBoxLayout;
    idRow->addWidget(lblControllerIDLabel);
    idRow->addWidget(txtControllerID);
    idRow->addWidget(vslControllerID);
    idRow->addStretch(1);
    layout->addLayout(idRow, 0, 0);

    int row = 1;
    for (const engine::Category& category : engine::categories()) {
        auto* box = named(new QCheckBox(QString::fromLatin1(category.languageKey)),
                          QString::fromLatin1(category.checkBox));
        categoryBoxes_.append({&category, box});
        layout->addWidget(box, row++, 0);
        if (category.cards) {
            // The number of cards belongs to the card category.
            txtCardNumber = numberBox("txtCardNumber", 1, category.cards->maxCount, 4);
            vslCardNumber = named(new QScrollBar(Qt::Horizontal), "vslCardNumber");
            vslCardNumber->setRange(1, category.cards->maxCount);
            vslCardNumber->setSingleStep(10);
            vslCardNumber->setPageStep(100);
            vslCardNumber->setValue(100);
            vslCardNumber->setMinimumWidth(140);
            txtCardNumber->follow(vslCardNumber);
            auto* cards = new QHBoxLayout;
            cards->setContentsMargins(22, 0, 0, 4);
            cards->addWidget(vslCardNumber, 1);
            cards->addWidget(txtCardNumber);
            layout->addLayout(cards, row++, 0);
        }
    }
    layout->setRowStretch(row, 1);
    return fraSet;
}

QWidget* frmKT550AX::buildFilePanels() {
    filePanels_ = new QWidget;
    auto* column = new QVBoxLayout(filePanels_);
    column->setContentsMargins(0, 0, 0, 0);
    const auto panel = [this](const char* frame, const char* label, const char* box,
                              const char* browse, const char* button, Picture picture,
                              QGroupBox** fra, QLabel** lbl, QLineEdit** txt, QToolButton** brw,
                              QPushButton** cmd) {
        *fra = named(new QGroupBox, frame);
        *lbl = named(new QLabel, label);
        *txt = named(new QLineEdit, box);
        (*lbl)->setBuddy(*txt);
        *brw = named(new QToolButton, browse);
        (*brw)->setText(QStringLiteral("…"));
        *cmd = named(new QPushButton, button);
        (*cmd)->setIcon(icon(picture));
        (*cmd)->setIconSize(QSize(40, 40));
        (*cmd)->setFixedSize(56, 56);
        auto* grid = new QGridLayout(*fra);
        grid->addWidget(*lbl, 0, 0, 1, 2);
        grid->addWidget(*txt, 1, 0);
        grid->addWidget(*brw, 1, 1);
        grid->addWidget(*cmd, 0, 2, 2, 1);
        grid->setColumnStretch(0, 1);
        return *fra;
    };
    column->addWidget(panel("fraSave", "lblSave", "txtSave", "cmdSaveBrowse", "cmdSave",
                            Picture::Save, &fraSave, &lblSave, &txtSave, &cmdSaveBrowse, &cmdSave));
    column->addWidget(panel("fraLoad", "lblLoad", "txtLoad", "cmdLoadBrowse", "cmdLoad",
                            Picture::Load, &fraLoad, &lblLoad, &txtLoad, &cmdLoadBrowse, &cmdLoad));
    column->addStretch(1);
    connect(cmdSaveBrowse, &QToolButton::clicked, this, [this] { browse(txtSave, true); });
    connect(cmdLoadBrowse, &QToolButton::clicked, this, [this] { browse(txtLoad, false); });
    return filePanels_;
}

QWidget* frmKT550AX::buildCommStatusPanel() {
    fraCommStatus = named(new QGroupBox(QStringLiteral("Communication Step")), "fraCommStatus");
    auto* layout = new QVBoxLayout(fraCommStatus);
    lblJobInfo = named(new QLabel, "lblJobInfo");
    lblJobInfo->setWordWrap(true);
    lblJobInfo->setTextFormat(Qt::PlainText);
    lblComm = named(new QLabel(QStringLiteral("Communication Status")), "lblComm");
    lblComm->setWordWrap(true);
    prbComm = named(new QProgressBar, "prbComm");
    prbComm->setRange(0, 1);
    prbComm->setValue(0);
    cmdCancel = named(new QPushButton(QStringLiteral("Cancel")), "cmdCancel");
    layout->addWidget(lblJobInfo);
    layout->addWidget(lblComm);
    layout->addWidget(prbComm);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);
    layout->addStretch(1);
    fraCommStatus->hide();
    return fraCommStatus;
}

void frmKT550AX::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("sbrComm");
    bar->setSizeGripEnabled(false);
    sbrEcho_ = named(new QLabel, "CommEcho");
    sbrEcho_->setMinimumWidth(120);
    sbrEcho_->setAccessibleName(QStringLiteral("Last frame"));
    pnlStatus = named(new QFrame, "CommStatus");
    pnlStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* statusLayout = new QHBoxLayout(pnlStatus);
    statusLayout->setContentsMargins(4, 1, 6, 1);
    pnlStatusPicture_ = named(new QLabel, "CommStatusPicture");
    pnlStatusText_ = named(new QLabel, "CommStatusText");
    statusLayout->addWidget(pnlStatusPicture_);
    statusLayout->addWidget(pnlStatusText_);
    pnlStatus->setMinimumWidth(110);
    sbrErrors_ = named(new QLabel(QStringLiteral("0")), "CommErrors");
    sbrErrors_->setAccessibleName(QStringLiteral("Failed tries"));
    sbrErrors_->setMinimumWidth(50);
    sbrErrors_->setAlignment(Qt::AlignCenter);
    bar->addWidget(sbrEcho_, 1);
    bar->addPermanentWidget(pnlStatus);
    bar->addPermanentWidget(sbrErrors_);
}

} // namespace kt::ui
