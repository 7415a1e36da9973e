// The main window, offscreen, with its port on a pseudo-terminal served by
// the virtual controller.
#include "shell/ini_file.h"
#include "shell/language.h"
#include "sim/pty_controller.h"
#include "support/message_catcher.h"
#include "support/wait_for.h"
#include "ui/file_choice.h"
#include "ui/frm_kt550ax.h"
#include "ui/frm_msg_box.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using kt::ui::frmKT550AX;

// A caption as shown, without its keyboard mnemonic.
QString plain(QString caption) {
    static const QRegularExpression added(QStringLiteral("\\(&.\\)$"));
    return caption.remove(added).remove(u'&');
}

struct WindowRig {
    WindowRig() {
        QFile::copy(QStringLiteral(KT_SOURCE_DIR "/Language.ini"), ini);
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_TRUE(controller.mapPort(ini)) << controller.error.toStdString();
        EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "/dev/kt-missing"));
        window = std::make_unique<frmKT550AX>(ini);
        window->show();
    }
    template <typename T = QObject> T* find(const char* name) {
        T* control = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(control) << name;
        return control;
    }
    void trigger(const char* action) { find<QAction>(action)->trigger(); }
    QString text(const char* section, const char* key) {
        return QString::fromUtf8(kt::shell::ReadIni(ini, section, key).trimmed());
    }

    QTemporaryDir dir;
    QString ini = dir.filePath("Language.ini");
    kt::sim::PtyController controller{10};
    std::unique_ptr<frmKT550AX> window;
};

TEST(MainWindow, EveryControlIsNamedAndEnabledAsThePortAndTheJobAllow) {
    WindowRig r;
    struct Row {
        const char* name;
        bool closed, open, job;
    };
    QList<Row> rows = {
        {"mnuCommPort", true, false, false},     {"mnuCommPortActive", true, true, false},
        {"mnuSetting", true, true, false},       {"mnuExit", true, true, false},
        {"fraSet", false, true, true},           {"lblControllerIDLabel", false, true, true},
        {"txtControllerID", false, true, false}, {"vslControllerID", false, true, false},
        {"txtCardNumber", false, true, false},   {"vslCardNumber", false, true, false},
        {"fraSave", false, true, true},          {"lblSave", false, true, true},
        {"txtSave", false, true, false},         {"cmdSaveBrowse", false, true, false},
        {"cmdSave", false, true, false},         {"fraLoad", false, true, true},
        {"lblLoad", false, true, true},          {"txtLoad", false, true, false},
        {"cmdLoadBrowse", false, true, false},   {"cmdLoad", false, true, false},
        {"mnuCompare", false, true, false},      {"mnuJobLog", true, true, false},
    };
    for (const kt::engine::Category& category : kt::engine::categories())
        rows.append({category.checkBox, false, true, false});
    const auto check = [&](const char* state, bool Row::*column, bool jobPanelShown) {
        SCOPED_TRACE(state);
        for (const Row& row : rows)
            EXPECT_EQ(r.window->isControlEnabled(row.name), row.*column) << row.name;
        EXPECT_EQ(r.find<QWidget>("fraCommStatus")->isVisible(), jobPanelShown);
        EXPECT_EQ(r.find<QWidget>("fraSave")->isVisible(), !jobPanelShown);
    };
    check("port closed", &Row::closed, false);
    r.trigger("mnuCommPortActive");
    ASSERT_TRUE(r.window->isPortOpen());
    check("port open", &Row::open, false);
    r.window->lsubSwitchControls(true);
    check("job running", &Row::job, true);
    r.window->lsubSwitchControls(false);
    check("job ended", &Row::open, false);
    r.trigger("mnuCommPortActive");
    check("port closed again", &Row::closed, false);

    // Every control has a name for assistive tools.
    for (QWidget* widget : r.window->findChildren<QWidget*>()) {
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if ((button || qobject_cast<QLineEdit*>(widget) || qobject_cast<QScrollBar*>(widget)) &&
            !widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_")) {
            EXPECT_FALSE(widget->accessibleName().isEmpty() &&
                         (!button || button->text().isEmpty()))
                << widget->objectName().toStdString();
        }
    }
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Tools: a compare that writes nothing and says so, whose differences can
// be seen in the window and beside the backup, by the names the window
// gives the categories; then the job log as a table, newest first.
TEST(MainWindow, ComparesWithTheBackupAndShowsTheJobLog) {
    WindowRig r;
    r.trigger("mnuCommPortActive");
    r.find<QCheckBox>("chkSystemDatabase")->setChecked(true);
    const QString backup = r.dir.filePath("01.KT");
    r.find<QLineEdit>("txtSave")->setText(backup);
    r.find<QLineEdit>("txtLoad")->setText(backup);
    {
        kt::test::MessageCatcher catcher;
        r.find<QPushButton>("cmdSave")->click();
        ASSERT_TRUE(kt::test::waitFor(
            [&] { return !catcher.messages.isEmpty() && !r.window->job().isActive(); }, 10000));
    }
    const QByteArray saved = contents(backup);

    // At its end the box says what was compared; the panel behind it says
    // which way and where; the differences open over the box.
    struct Seen {
        QString panel, message, buttons;
        QStringList differences;
    };
    const auto compare = [&] {
        Seen seen;
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* list = qobject_cast<QDialog*>(modal);
                list && list->objectName() == "frmDifferences") {
                auto* table = list->findChild<QTableWidget*>("tblDifferences");
                for (int row = 0; row < table->rowCount(); ++row)
                    seen.differences.append(
                        table->item(row, 0)->text() + '|' + table->item(row, 1)->text() + '|' +
                        table->item(row, 2)->text() + '|' + table->item(row, 3)->text());
                list->findChild<QPushButton*>("cmdClose")->click();
                return;
            }
            auto* box = qobject_cast<kt::ui::frmMsgBox*>(modal);
            if (!box || !box->isVisible())
                return;
            auto* details = box->findChild<QPushButton*>("cmdDetails");
            if (seen.message.isEmpty()) {
                seen.panel = r.find<QLabel>("lblJobInfo")->text().section('\n', 0, 0);
                seen.message = box->findChild<QLabel*>("lblMessage")->text();
                seen.buttons = details->isVisible() ? details->text() : QString();
                if (details->isVisible()) {
                    // The list opens over the box, from a click of its own.
                    QTimer::singleShot(0, details, &QPushButton::click);
                    return;
                }
            }
            box->findChild<QPushButton*>("cmdOk")->click();
        });
        driver.start(5);
        r.trigger("mnuCompare");
        EXPECT_TRUE(kt::test::waitFor(
            [&] { return !seen.message.isEmpty() && !r.window->job().isActive(); }, 10000));
        return seen;
    };
    const Seen same = compare();
    EXPECT_TRUE(same.panel.startsWith("Compare of controller 01 with "))
        << same.panel.toStdString();
    EXPECT_EQ(same.message, "Controller 01 matches the backup: 2 records.");
    EXPECT_EQ(same.buttons, "");

    r.controller.store.setValue("DI", "changed");
    const QByteArray stored = kt::shell::ReadIni(backup, "Data", "DI");
    const Seen changed = compare();
    EXPECT_TRUE(changed.message.startsWith("1 records differ.")) << changed.message.toStdString();
    EXPECT_EQ(plain(changed.buttons), "Show differences");
    EXPECT_EQ(changed.differences,
              QStringList{"System Database|DI|" + QString::fromLatin1(stored) + "|changed"});
    EXPECT_TRUE(
        contents(r.dir.filePath("01.verify.txt")).contains("\nSystem Database: 1 difference\n"));
    EXPECT_EQ(r.controller.controller.requests().size(), 6); // two reads each time
    EXPECT_EQ(contents(backup), saved);

    QStringList rows;
    QString tableName;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(window);
        auto* table = window->findChild<QTableWidget*>("tblJobLog");
        tableName = table->accessibleName();
        for (int row = 0; row < table->rowCount(); ++row)
            rows.append(table->item(row, 1)->text() + '|' + table->item(row, 2)->text() + '|' +
                        table->item(row, 3)->text() + '|' + table->item(row, 6)->text());
        window->findChild<QPushButton*>("cmdClose")->click();
    });
    r.trigger("mnuJobLog");
    EXPECT_EQ(tableName, "Job log");
    // Each job names its port as chosen and the line behind it.
    const QString port = "COM1 (" + r.controller.line->devicePath() + ")";
    EXPECT_EQ(rows,
              (QStringList{"Compare|01|" + port + "|differences (1)",
                           "Compare|01|" + port + "|finished", "Backup|01|" + port + "|finished"}));
}

// The job panel's count, "N of M records", and its bar say the same while
// a job runs and when its end message is up; its time runs on while a
// record is retried.
TEST(MainWindow, TheJobPanelCountsWithItsBarAndItsTimeRunsDuringRetries) {
    WindowRig r;
    r.trigger("mnuCommPortActive");
    for (const char* box : {"chkSystemDatabase", "chkUserCard", "chkHolidayTable"})
        r.find<QCheckBox>(box)->setChecked(true);
    r.find<QScrollBar>("vslCardNumber")->setValue(10);
    r.find<QLineEdit>("txtSave")->setText(r.dir.filePath("01.KT"));
    auto* info = r.find<QLabel>("lblJobInfo");
    auto* bar = r.find<QProgressBar>("prbComm");
    static const QRegularExpression count(
        QStringLiteral("(\\d+) of (\\d+) records, (\\S+) elapsed"));
    QStringList disagreements;
    QString atTheEnd;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!info->isVisible())
            return;
        const QRegularExpressionMatch m = count.match(info->text());
        if (!m.hasMatch() || m.captured(1).toInt() != bar->value() ||
            m.captured(2).toInt() != bar->maximum())
            disagreements.append(info->text() + QStringLiteral(" / bar %1 of %2")
                                                    .arg(QString::number(bar->value()),
                                                         QString::number(bar->maximum())));
        auto* box = qobject_cast<kt::ui::frmMsgBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            atTheEnd = m.captured(1) + " of " + m.captured(2);
            box->findChild<QPushButton*>("cmdOk")->click();
        }
    });
    sampler.start(2);
    r.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(kt::test::waitFor([&] { return !r.window->job().isActive(); }, 10000));
    EXPECT_TRUE(kt::test::waitFor([&] { return !atTheEnd.isEmpty(); }, 10000));
    EXPECT_EQ(atTheEnd, "24 of 24"); // 2 system records, 12 holidays, 10 cards
    EXPECT_TRUE(disagreements.isEmpty()) << disagreements.join('\n').toStdString();
    sampler.stop();

    // A controller that stops answering: the record is retried, the clock
    // runs. The job waits on the line inside its step, so the panel is
    // watched from a timer, which runs there too.
    r.controller.controller.setFaultPlan({.fault = kt::sim::Fault::Silence});
    r.window->setLinkTimes(10, 10, 1000);
    QStringList times;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QRegularExpressionMatch m = count.match(info->text());
        if (times.isEmpty() || times.last() != m.captured(3))
            times.append(m.captured(3));
        if (m.captured(3) == QLatin1String("0:01")) {
            EXPECT_EQ(m.captured(1), "0");
            r.window->cmdCancel_Click();
        }
        // The job gives up in the end, unless the time ran.
        if (auto* box = qobject_cast<kt::ui::frmMsgBox*>(QApplication::activeModalWidget()))
            box->findChild<QPushButton*>("cmdOk")->click();
    });
    watcher.start(20);
    r.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(kt::test::waitFor([&] { return !r.window->job().isActive(); }, 10000));
    EXPECT_EQ(times, (QStringList{"0:00", "0:01"}));
    EXPECT_EQ(r.window->job().outcome(), kt::engine::JobOutcome::Cancelled);
}

TEST(MainWindow, ADeviceUnpluggedUnderTheSuccessMessageWaitsForIt) {
    WindowRig r;
    r.trigger("mnuCommPortActive");
    r.find<QCheckBox>("chkSystemDatabase")->setChecked(true);
    r.find<QLineEdit>("txtSave")->setText(r.dir.filePath("01.KT"));
    QStringList texts;
    QPointer<QDialog> first;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (!first) {
            first = box;
            texts.append(box->findChild<QLabel*>("lblMessage")->text());
            r.controller.line->hangUp();
        } else if (box == first && !r.window->isPortOpen()) {
            box->findChild<QPushButton*>("cmdOk")->click(); // the loss is known meanwhile
        } else if (box != first) {
            texts.append(box->findChild<QLabel*>("lblMessage")->text());
            box->findChild<QPushButton*>("cmdOk")->click();
        }
    });
    driver.start(5);
    r.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(
        kt::test::waitFor([&] { return texts.size() == 2 && !r.window->job().isActive(); }, 10000));
    EXPECT_TRUE(texts[0].startsWith(r.window->languageText("ProcessSaveOk")))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[1].startsWith("COM1:19200,e,8,1")) << texts[1].toStdString();
    // The controls of a closed port, the file panels back.
    EXPECT_TRUE(kt::test::waitFor([&] { return r.find<QWidget>("fraSave")->isVisible(); }, 10000));
    EXPECT_FALSE(r.find<QWidget>("fraCommStatus")->isVisible());
    EXPECT_FALSE(r.window->isControlEnabled("cmdSave"));
    EXPECT_TRUE(r.window->isControlEnabled("mnuCommPort"));
    EXPECT_TRUE(r.window->isControlEnabled("mnuCommPortActive"));
    EXPECT_EQ(r.find<QLabel>("CommStatusText")->text(), "Error");
}

// Choosing a port, opening and closing it; a port that cannot be opened
// says which port and why, and leaves the controls of a closed port.
TEST(MainWindow, ChoosingAPortAndOpeningIt) {
    WindowRig r;
    kt::test::MessageCatcher catcher;
    r.trigger("mnuCom(5)");
    EXPECT_EQ(r.text("COMMUNICATION", "ComPort"), "5");
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(r.find<QAction>(qPrintable(QString("mnuCom(%1)").arg(i)))->isChecked(), i == 5);
    EXPECT_EQ(r.find<QAction>("mnuProtocol")->text(), "  [ COM5:19200,e,8,1 ]   <OFF>");

    r.trigger("mnuCom(1)");
    r.trigger("mnuCommPortActive");
    EXPECT_EQ(r.find<QAction>("mnuProtocol")->text(), "  [ COM1:19200,e,8,1 ]   <ON>");
    EXPECT_EQ(plain(r.find<QAction>("mnuCommPortActive")->text()), "Close Com Port");
    EXPECT_EQ(r.find<QLabel>("CommStatusText")->text(), "OK");
    r.trigger("mnuCommPortActive");
    EXPECT_EQ(plain(r.find<QAction>("mnuCommPortActive")->text()), "Open Com Port");
    EXPECT_EQ(r.find<QLabel>("CommStatusText")->text(), "OFF");
    EXPECT_TRUE(catcher.messages.isEmpty());

    r.trigger("mnuCom(3)");
    r.trigger("mnuCommPortActive");
    ASSERT_EQ(catcher.messages.size(), 1);
    EXPECT_TRUE(catcher.messages[0].text.startsWith(
        "COM3:19200,e,8,1\n\n          The device /dev/kt-missing"))
        << catcher.messages[0].text.toStdString();
    EXPECT_EQ(catcher.messages[0].title, "KT560AX Data Backup System V2.00");
    EXPECT_FALSE(r.window->isPortOpen());
    EXPECT_EQ(r.find<QLabel>("CommStatusText")->text(), "Error");
    EXPECT_TRUE(r.window->isControlEnabled("mnuCommPort"));
    EXPECT_FALSE(r.window->isControlEnabled("cmdSave"));
}

TEST(MainWindow, ALanguageSwitchChangesEveryCaptionAndTheMessageTitle) {
    WindowRig r;
    r.trigger("mnuCommPortActive");
    r.trigger("mnuSetting");
    r.find<QRadioButton>("opLanguage(1)")->click();
    r.find<QPushButton>("cmdOk")->click();
    EXPECT_EQ(r.text("System", "Language"), "1");

    const char* tc = "TraditionChinese";
    const std::pair<const char*, const char*> titled[] = {
        {"fraLanguage", "Language"},       {"fraSet", "LinkSetting"},
        {"fraSetting", "FunctionSetting"}, {"fraCommStatus", "CommunicationStatus"},
        {"fraSave", "SaveFile"},           {"fraLoad", "LoadFile"}};
    for (const auto& [name, key] : titled)
        EXPECT_EQ(r.find<QGroupBox>(name)->title(), r.text(tc, key)) << name;
    QList<std::pair<const char*, const char*>> captioned = {{"opLanguage(0)", "English"},
                                                            {"opLanguage(1)", "TraditionChinese"},
                                                            {"opLanguage(2)", "SimplifiedChinese"},
                                                            {"cmdOk", "OK"},
                                                            {"cmdCancel", "Cancel"}};
    for (const kt::engine::Category& category : kt::engine::categories())
        captioned.append(std::pair(category.checkBox, category.languageKey));
    for (const auto& [name, key] : captioned)
        EXPECT_EQ(plain(r.find<QAbstractButton>(name)->text()), r.text(tc, key)) << name;
    const std::pair<const char*, const char*> labels[] = {{"lblControllerIDLabel", "ControllerID"},
                                                          {"lblRxDelay", "RxDelay"},
                                                          {"lblTxDelay", "TxDelay"},
                                                          {"lblTxTimeOut", "RxTimeOut"},
                                                          {"lblSave", "SaveFileName"},
                                                          {"lblLoad", "LoadFileName"}};
    for (const auto& [name, key] : labels)
        EXPECT_EQ(r.find<QLabel>(name)->text(), r.text(tc, key)) << name;
    EXPECT_EQ(plain(r.find<QMenu>("mnuCommPort")->title()), r.text(tc, "ComPort"));
    EXPECT_EQ(plain(r.find<QAction>("mnuCommPortActive")->text()), r.text(tc, "CloseComPort"));
    EXPECT_EQ(plain(r.find<QAction>("mnuSetting")->text()), r.text(tc, "Setting"));
    EXPECT_EQ(plain(r.find<QAction>("mnuExit")->text()), r.text(tc, "Exit"));
    EXPECT_TRUE(r.find<QAction>("mnuSetting")->text().endsWith("(&S)"));
    EXPECT_EQ(r.window->windowTitle(), r.text(tc, "LinkKT550AX"));
    EXPECT_TRUE(r.find<QAction>("mnuProtocol")->text().endsWith("<" + r.text(tc, "ON") + ">"));
    EXPECT_EQ(r.find<QLabel>("CommStatusText")->text(), r.text(tc, "ON"));

    kt::test::MessageCatcher catcher;
    r.window->showMessage(kt::shell::MsgStyle::Information, kt::shell::MsgButtons::Ok,
                          r.window->languageText("ProcessSaveOk") + '.');
    ASSERT_EQ(catcher.messages.size(), 1);
    EXPECT_EQ(catcher.messages[0].title, r.text(tc, "LinkKT550AX"));
    EXPECT_EQ(catcher.messages[0].text, r.text(tc, "ProcessSaveOk") + ".");
}

// The status bar's texts, the account of a stopped job among them, change
// with the language as soon as it is chosen.
TEST(MainWindow, TheStatusBarFollowsALanguageSwitchAtOnce) {
    WindowRig r;
    const auto chooseLanguage = [&](const char* option) {
        r.trigger("mnuSetting");
        r.find<QRadioButton>(option)->click();
        r.find<QPushButton>("cmdOk")->click();
    };
    chooseLanguage("opLanguage(1)");
    r.trigger("mnuCommPortActive");
    r.find<QCheckBox>("chkSystemDatabase")->setChecked(true);
    r.find<QLineEdit>("txtSave")->setText(r.dir.filePath("01.KT"));
    r.window->cmdSave_Click();
    r.window->cmdCancel_Click();
    auto* left = r.find<QLabel>("CommEcho");
    const char* tc = "TraditionChinese";
    EXPECT_EQ(left->text(), kt::shell::fillIn(r.text(tc, "SaveStopped"), {"0", "2"}));

    chooseLanguage("opLanguage(0)");
    EXPECT_EQ(left->text(), "Backup stopped: 0 of 2 records saved");
    EXPECT_EQ(left->toolTip(), left->text());
    EXPECT_EQ(r.find<QLabel>("CommStatusText")->text(), "ON");
}

// Typed times are in force at once and clamped on OK; while a job runs,
// started by an accessibility client with the panel open, the panel changes
// nothing and stays open.
TEST(MainWindow, SettingsPanelTakesTypedTimesAtOnceAndClampsOnOkButNotDuringAJob) {
    WindowRig r;
    r.trigger("mnuCommPortActive");
    r.trigger("mnuSetting");
    EXPECT_FALSE(r.window->isControlEnabled("mnuSetting"));
    auto* timeOut = r.find<QLineEdit>("txtRxTimeOut");
    auto* txDelay = r.find<QLineEdit>("txtTxDelay");
    EXPECT_EQ(timeOut->text(), "500");
    EXPECT_EQ(txDelay->text(), "10");
    timeOut->selectAll();
    QTest::keyClicks(timeOut, "1500");
    EXPECT_EQ(r.window->currentSettings().sngRxTimeOut, 1500); // unclamped
    txDelay->clear();
    EXPECT_EQ(txDelay->text(), "0");
    txDelay->selectAll();
    QTest::keyClicks(txDelay, "12.5x");
    EXPECT_EQ(txDelay->text(), "12.5");

    r.find<QCheckBox>("chkFlowControl")->setChecked(true);
    r.find<QLineEdit>("txtSave")->setText(r.dir.filePath("01.KT"));
    r.window->cmdSave_Click();
    ASSERT_TRUE(r.window->job().isActive());
    const char* panel[] = {"opLanguage(0)", "opLanguage(2)", "txtTxDelay",
                           "txtRxDelay",    "txtRxTimeOut",  "cmdOk"};
    for (const char* name : panel)
        EXPECT_FALSE(r.window->isControlEnabled(name)) << name;
    r.find<QPushButton>("cmdOk")->click();
    r.trigger("mnuSetting");
    EXPECT_TRUE(r.find<QWidget>("fraSetting")->isVisible());
    r.window->cmdCancel_Click();
    for (const char* name : panel)
        EXPECT_TRUE(r.window->isControlEnabled(name)) << name;
    EXPECT_FALSE(r.window->isControlEnabled("mnuSetting")); // the panel is still open

    r.find<QPushButton>("cmdOk")->click();
    EXPECT_EQ(r.window->currentSettings().sngRxTimeOut, 1000);
    EXPECT_EQ(r.text("COMMUNICATION", "RXTimeOut"), "1000");
    EXPECT_EQ(r.text("COMMUNICATION", "TXDelayTime"), "12.5");
    EXPECT_EQ(r.text("COMMUNICATION", "RXDelayTime"), "10");
    EXPECT_EQ(timeOut->text(), "1500");
    EXPECT_TRUE(r.window->isControlEnabled("mnuSetting"));
    EXPECT_FALSE(r.find<QWidget>("fraSetting")->isVisible());
    r.trigger("mnuSetting");
    EXPECT_EQ(timeOut->text(), "1000");
}

// The boxes show the scroll bars' numbers and move them when typed into; a
// job takes those numbers and the ticked boxes only, and a restore keeps the
// card count chosen.
TEST(MainWindow, NumbersFollowTheScrollBarsAndAJobTakesThemWithTheTickedBoxes) {
    WindowRig r;
    r.trigger("mnuCommPortActive");
    auto* id = r.find<QScrollBar>("vslControllerID");
    auto* cards = r.find<QScrollBar>("vslCardNumber");
    auto* idBox = r.find<QSpinBox>("txtControllerID");
    auto* cardBox = r.find<QSpinBox>("txtCardNumber");
    EXPECT_EQ(idBox->text(), "01");
    EXPECT_EQ(cardBox->text(), "0100");
    const std::tuple<int, const char*, int, const char*> cases[] = {
        {7, "07", 42, "0042"}, {99, "99", 9999, "9999"}, {1, "01", 1, "0001"}};
    for (const auto& [idValue, idText, cardValue, cardText] : cases) {
        id->setValue(idValue);
        cards->setValue(cardValue);
        EXPECT_EQ(idBox->text(), idText);
        EXPECT_EQ(cardBox->text(), cardText);
    }
    EXPECT_EQ(id->pageStep(), 10);
    EXPECT_EQ(cards->singleStep(), 10);
    EXPECT_EQ(cards->pageStep(), 100);

    // Typed from the keyboard, the box moves its scroll bar.
    EXPECT_TRUE(cardBox->focusPolicy() & Qt::TabFocus);
    cardBox->setFocus();
    cardBox->selectAll();
    QTest::keyClicks(cardBox, "2437");
    QTest::keyClick(cardBox, Qt::Key_Return);
    EXPECT_EQ(cards->value(), 2437);
    EXPECT_TRUE(idBox->focusPolicy() & Qt::TabFocus);
    idBox->selectAll();
    QTest::keyClicks(idBox, "42");
    QTest::keyClick(idBox, Qt::Key_Enter);
    EXPECT_EQ(id->value(), 42);

    r.find<QCheckBox>("chkMasterCard")->setCheckState(Qt::Checked);
    r.find<QCheckBox>("chkUserCard")->setCheckState(Qt::Checked);
    r.find<QCheckBox>("chkDiSet")->setCheckState(Qt::PartiallyChecked); // grayed: not ticked
    // A backup whose header names fewer cards than it holds.
    const QString backup = r.dir.filePath("stale.KT");
    EXPECT_TRUE(kt::shell::WriteIni(backup, "HEAD", "Title", "KT560AX"));
    EXPECT_TRUE(kt::shell::WriteIni(backup, "HEAD", "Cards", "3"));
    EXPECT_TRUE(kt::shell::WriteIni(backup, "Data", "HA0005", "0012345678123401FF00FF00"));
    r.find<QLineEdit>("txtLoad")->setText(backup);
    const kt::engine::JobRequest request = r.window->jobRequest(kt::engine::Direction::Load);
    EXPECT_EQ(request.categories,
              (QList<const kt::engine::Category*>{kt::engine::findCategory("master"),
                                                  kt::engine::findCategory("cards")}));
    EXPECT_EQ(request.address, 42);
    EXPECT_EQ(request.cardCount, 2437);
    EXPECT_EQ(request.file, backup);
    // A restore asks and never changes the card count chosen.
    kt::test::MessageCatcher catcher("cmdCancel");
    r.find<QPushButton>("cmdLoad")->click();
    ASSERT_TRUE(kt::test::waitFor([&] { return !catcher.messages.isEmpty(); }, 10000));
    EXPECT_EQ(catcher.messages[0].buttons, "Restore|*Cancel");
    EXPECT_EQ(cards->value(), 2437);
    EXPECT_TRUE(r.controller.controller.requests().isEmpty());
}

// The ticked categories and the folder of the last job are kept in
// Language.ini from one start to the next; a file choice opens there.
TEST(MainWindow, RemembersTheTickedCategoriesAndTheLastFolder) {
    WindowRig r;
    r.trigger("mnuCommPortActive");
    for (const char* box : {"chkSystemDatabase", "chkUserCard", "chkDoSet"})
        r.find<QCheckBox>(box)->setChecked(true);
    r.find<QCheckBox>("chkDoSet")->setChecked(false);
    QDir(r.dir.path()).mkdir("site-a");
    const QString backup = r.dir.filePath("site-a/01.KT");
    r.find<QLineEdit>("txtSave")->setText(backup);
    r.window->cmdSave_Click();
    r.window->cmdCancel_Click();
    r.window.reset();

    frmKT550AX again(r.ini);
    for (const kt::engine::Category& category : kt::engine::categories())
        EXPECT_EQ(again.findChild<QCheckBox*>(category.checkBox)->isChecked(),
                  QByteArray(category.checkBox) == "chkSystemDatabase" ||
                      QByteArray(category.checkBox) == "chkUserCard")
            << category.checkBox;
    EXPECT_EQ(again.currentSettings().lastFolder, r.dir.filePath("site-a"));
}

// Where "…" opens: the last job's folder first, with the box's file when a
// backup is to be saved or when that file is there.
TEST(MainWindow, AFileChoiceOpensInTheFolderOfTheLastJob) {
    QTemporaryDir dir;
    const QString last = dir.filePath("last");
    const QString other = dir.filePath("other");
    QDir().mkpath(last);
    QDir().mkpath(other);
    QFile(last + "/there.KT").open(QIODevice::WriteOnly);
    const std::tuple<QString, QString, bool, QString> cases[] = {
        {"", last, false, last},
        {"", last, true, last},
        {other + "/there.KT", last, false, last + "/there.KT"},
        {other + "/gone.KT", last, false, last},
        {other + "/new.KT", last, true, last + "/new.KT"},
        {other + "/new.KT", "", true, other + "/new.KT"},
        {other + "/new.KT", dir.filePath("removed"), false, other},
        {"", "", false, QDir::homePath()},
    };
    for (const auto& [box, lastFolder, forSaving, start] : cases)
        EXPECT_EQ(kt::ui::browseStart(box, lastFolder, forSaving), start)
            << box.toStdString() << " / " << lastFolder.toStdString() << " / " << forSaving;
}

TEST(MainWindow, StartsOnALanguageIniOfGarbage) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 200000; ++i)
        file.putChar(char((i * 31) % 256));
    file.close();
    frmKT550AX window(ini);
    window.show();
    EXPECT_EQ(window.currentSettings().intComPort, 2);
    EXPECT_EQ(window.findChild<QAction*>("mnuProtocol")->text(), "  [ COM2:19200,e,8,1 ]   <>");
    EXPECT_FALSE(window.isControlEnabled("cmdSave"));
}

} // namespace
