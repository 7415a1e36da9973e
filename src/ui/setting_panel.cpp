#include "setting_panel.h"

#include "shell/text_format.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace kt::ui {

namespace {

template <typename T> T* named(T* object, const QString& name) {
    object->setObjectName(name);
    return object;
}

QString decimal(float value) {
    return QString::fromLatin1(shell::shortestDecimal(value));
}

} // namespace

SettingPanel::SettingPanel(shell::Settings& settings, QWidget* parent)
    : QGroupBox(QStringLiteral("Function Setting"), parent), settings_(settings) {
    setObjectName(QStringLiteral("fraSetting"));
    auto* layout = new QVBoxLayout(this);
    fraLanguage = named(new QGroupBox(QStringLiteral("Language")), "fraLanguage");
    auto* languages = new QVBoxLayout(fraLanguage);
    const char* captions[] = {"English", "Tradition Chinese", "Simplified Chinese"};
    for (int i = 0; i < 3; ++i) {
        opLanguage[i] = named(new QRadioButton(QString::fromLatin1(captions[i])),
                              QStringLiteral("opLanguage(%1)").arg(i));
        languages->addWidget(opLanguage[i]);
        connect(opLanguage[i], &QRadioButton::clicked, this,
                [this, i] { settings_.intLanguage = i; });
    }
    layout->addWidget(fraLanguage);

    auto* times = new QGridLayout;
    const auto timeRow = [&](int row, QLabel** label, const char* labelName, const char* caption,
                             QLineEdit** box, const char* boxName, float* value) {
        *label = named(new QLabel(QString::fromLatin1(caption)), labelName);
        *box = named(new QLineEdit(QStringLiteral("0")), boxName);
        (*box)->setMaximumWidth(90);
        (*label)->setBuddy(*box);
        times->addWidget(*label, row, 0);
        times->addWidget(*box, row, 1);
        times->addWidget(new QLabel(QStringLiteral("ms")), row, 2);
        QLineEdit* edit = *box;
        connect(edit, &QLineEdit::textChanged, this,
                [this, edit, value] { timeBoxChanged(edit, value); });
    };
    timeRow(0, &lblTxDelay, "lblTxDelay", "TX Delay Time :", &txtTxDelay, "txtTxDelay",
            &settings_.sngTxDelay);
    timeRow(1, &lblRxDelay, "lblRxDelay", "RX Delay Time :", &txtRxDelay, "txtRxDelay",
            &settings_.sngRxDelay);
    timeRow(2, &lblTxTimeOut, "lblTxTimeOut", "TX Time Out :", &txtRxTimeOut, "txtRxTimeOut",
            &settings_.sngRxTimeOut);
    times->setColumnStretch(3, 1);
    layout->addLayout(times);

    chkVerifyAfterLoad =
        named(new QCheckBox(QStringLiteral("Verify after restore")), "chkVerifyAfterLoad");
    connect(chkVerifyAfterLoad, &QCheckBox::toggled, this,
            [this](bool on) { settings_.verifyAfterLoad = on; });
    layout->addWidget(chkVerifyAfterLoad);

    cmdOk = named(new QPushButton(QStringLiteral("OK")), "cmdOk");
    connect(cmdOk, &QPushButton::clicked, this, &SettingPanel::accepted);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOk);
    layout->addLayout(buttons);
    layout->addStretch(1);
    hide();
}

void SettingPanel::open() {
    if (settings_.intLanguage >= 0 && settings_.intLanguage <= 2)
        opLanguage[settings_.intLanguage]->setChecked(true);
    txtRxDelay->setText(decimal(settings_.sngRxDelay));
    txtTxDelay->setText(decimal(settings_.sngTxDelay));
    txtRxTimeOut->setText(decimal(settings_.sngRxTimeOut));
    chkVerifyAfterLoad->setChecked(settings_.verifyAfterLoad);
    show();
}

void SettingPanel::applyLanguage(const std::function<QString(const char*)>& text,
                                 const QString& ok) {
    setTitle(text("FunctionSetting"));
    fraLanguage->setTitle(text("Language"));
    opLanguage[0]->setText(text("English"));
    opLanguage[1]->setText(text("TraditionChinese"));
    opLanguage[2]->setText(text("SimplifiedChinese"));
    lblRxDelay->setText(text("RxDelay"));
    lblTxDelay->setText(text("TxDelay"));
    lblTxTimeOut->setText(text("RxTimeOut"));
    chkVerifyAfterLoad->setText(text("VerifyAfterLoad"));
    cmdOk->setText(ok);
    txtTxDelay->setAccessibleName(lblTxDelay->text());
    txtRxDelay->setAccessibleName(lblRxDelay->text());
    txtRxTimeOut->setAccessibleName(lblTxTimeOut->text());
}

QList<QObject*> SettingPanel::controls() const {
    return {opLanguage[0], opLanguage[1], opLanguage[2],      txtTxDelay,
            txtRxDelay,    txtRxTimeOut,  chkVerifyAfterLoad, cmdOk};
}

void SettingPanel::timeBoxChanged(QLineEdit* box, float* value) {
    const QByteArray typed = box->text().toLatin1();
    *value = float(shell::leadingNumber(typed));
    // A number still being typed ("12.") stays as it is.
    static const QRegularExpression partial(QStringLiteral("^[0-9]+\\.[0-9]*$"));
    const QString canonical = decimal(*value);
    if (box->text() != canonical && !partial.match(box->text()).hasMatch()) {
        const QSignalBlocker block(box);
        box->setText(canonical);
    }
}

} // namespace kt::ui
