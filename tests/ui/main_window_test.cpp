// The main window, offscreen, with its port on a pseudo-terminal served by
// the virtual controller.
#include "shell/ini_file.h"
#include "shell/language.h"
#include "sim/pty_controller.h"
#include "support/message_catcher.h"
#include "support/wait_for.h"
#include "support/window_port.h"
#include "support/window_rig.h"
#include "ui/file_choice.h"
#include "ui/frm_kt550ax.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using kt::test::modalUp;
using kt::test::WindowRig;
using kt::ui::frmKT550AX;

// A caption as shown, without its keyboard mnemonic.
QString plain(QString caption) {
    static const QRegularExpression added(QStringLiteral("\\(&.\\)$"));
    return caption.remove(added).remove(u'&');
}

// What a control says: a frame's or a menu's title, else its text.
QString caption(const QObject* control) {
    const char* property = control->property("title").isValid() ? "title" : "text";
    return plain(control->property(property).toString());
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The port menu, the status bar and the controls enabled follow the port
// and the job; a port that cannot be opened says which and why. Every
// control has a name for assistive tools.
TEST(MainWindow, ThePortMenuAndTheControlsFollowThePortAndTheJob) {
    WindowRig r;
    kt::test::MessageCatcher catcher;
    const auto shown = [&] {
        return r.find<QAction>("mnuProtocol")->text() + '|' + caption(r.find("mnuCommPortActive")) +
               '|' + r.find<QLabel>("CommStatusText")->text();
    };
    r.expectControls("port closed", 'c');
    r.trigger("mnuCom(5)");
    EXPECT_EQ(r.text("COMMUNICATION", "ComPort"), "5");
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(r.find<QAction>(qPrintable(QString("mnuCom(%1)").arg(i)))->isChecked(), i == 5);
    EXPECT_TRUE(shown().startsWith("  [ COM5:19200,e,8,1 ]   <OFF>|Open Com Port|"));

    r.trigger("mnuCom(1)");
    ASSERT_TRUE(kt::test::openWindowPort(*r.window));
    EXPECT_EQ(shown(), "  [ COM1:19200,e,8,1 ]   <ON>|Close Com Port|OK");
    r.expectControls("port open", 'o');
    r.window->lsubSwitchControls(true);
    r.expectControls("job running", 'j');
    r.window->lsubSwitchControls(false);
    r.expectControls("job ended", 'o');
    r.trigger("mnuCommPortActive");
    EXPECT_EQ(shown(), "  [ COM1:19200,e,8,1 ]   <OFF>|Open Com Port|OFF");
    r.expectControls("port closed again", 'c');
    EXPECT_TRUE(catcher.messages.isEmpty());

    r.trigger("mnuCom(3)");
    EXPECT_FALSE(kt::test::openWindowPort(*r.window));
    // The box answered and gone, so that only the window's controls are named below.
    ASSERT_TRUE(r.settled([&] {
        return catcher.messages.size() == 1 && !r.window->findChild<kt::ui::frmMsgBox*>();
    }));
    EXPECT_TRUE(catcher.messages[0].text.startsWith(
        "COM3:19200,e,8,1\n\n          The device /dev/kt-missing"))
        << catcher.messages[0].text.toStdString();
    EXPECT_EQ(catcher.messages[0].title, "KT560AX Data Backup System V2.00");
    r.expectPortFailed();

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

// A compare writes nothing and says what it compared; its differences open
// over its message and are listed beside the backup. The job log lists the
// jobs newest first, each with its port and the line behind it.
TEST(MainWindow, ComparesWithTheBackupAndShowsTheJobLog) {
    WindowRig r;
    r.readyToSave();
    const QString backup = r.dir.filePath("01.KT");
    r.find<QLineEdit>("txtLoad")->setText(backup);
    {
        kt::test::MessageCatcher catcher;
        r.find<QPushButton>("cmdSave")->click();
        ASSERT_TRUE(r.settled([&] { return catcher.messages.size() == 1; }));
        r.trigger("mnuCompare");
        ASSERT_TRUE(r.settled([&] { return catcher.messages.size() == 2; }));
        EXPECT_EQ(catcher.messages[1].text, "Controller 01 matches the backup: 2 records.");
        EXPECT_EQ(catcher.messages[1].buttons, "*OK");
    }
    const QByteArray saved = contents(backup);

    r.controller.store.setValue("DI", "changed");
    QString panel, message, details;
    QStringList differences;
    r.every(5, [&] {
        QWidget* modal = modalUp();
        if (modal && modal->objectName() == "frmDifferences") {
            auto* table = modal->findChild<QTableWidget*>("tblDifferences");
            for (int row = 0; row < table->rowCount(); ++row)
                differences.append(table->item(row, 0)->text() + '|' + table->item(row, 1)->text() +
                                   '|' + table->item(row, 2)->text() + '|' +
                                   table->item(row, 3)->text());
            modal->findChild<QPushButton*>("cmdClose")->click();
        } else if (modal && message.isEmpty()) {
            panel = r.find<QLabel>("lblJobInfo")->text().section('\n', 0, 0);
            message = modal->findChild<QLabel*>("lblMessage")->text();
            auto* button = modal->findChild<QPushButton*>("cmdDetails");
            details = button->isVisible() ? button->text() : QString();
            QTimer::singleShot(0, button, &QPushButton::click); // a click of its own
        } else if (modal) {
            modal->findChild<QPushButton*>("cmdOk")->click();
        }
    });
    r.trigger("mnuCompare");
    ASSERT_TRUE(r.settled([&] { return !message.isEmpty(); }));
    r.driver.stop();
    EXPECT_TRUE(panel.startsWith("Compare of controller 01 with ")) << panel.toStdString();
    EXPECT_TRUE(message.startsWith("1 records differ.")) << message.toStdString();
    EXPECT_EQ(plain(details), "Show differences");
    const QString stored = QString::fromLatin1(kt::shell::ReadIni(backup, "Data", "DI"));
    EXPECT_EQ(differences, QStringList{"System Database|DI|" + stored + "|changed"});
    EXPECT_TRUE(
        contents(r.dir.filePath("01.verify.txt")).contains("\nSystem Database: 1 difference\n"));
    EXPECT_EQ(r.controller.controller.requests().size(), 6); // two reads each time
    EXPECT_EQ(contents(backup), saved);

    QStringList rows;
    r.trigger("mnuJobLog");
    auto* table = modalUp()->findChild<QTableWidget*>("tblJobLog");
    EXPECT_EQ(table->accessibleName(), "Job log");
    for (int row = 0; row < table->rowCount(); ++row)
        rows.append(table->item(row, 1)->text() + '|' + table->item(row, 2)->text() + '|' +
                    table->item(row, 3)->text() + '|' + table->item(row, 6)->text());
    modalUp()->findChild<QPushButton*>("cmdClose")->click();
    const QString port = "COM1 (" + r.controller.line->devicePath() + ")";
    EXPECT_EQ(rows,
              (QStringList{"Compare|01|" + port + "|differences (1)",
                           "Compare|01|" + port + "|finished", "Backup|01|" + port + "|finished"}));
}

// The job panel's "N of M records" and its bar agree while a job runs and
// under its end message; its time runs on while a record is retried.
TEST(MainWindow, TheJobPanelCountsWithItsBarAndItsTimeRunsDuringRetries) {
    WindowRig r;
    r.readyToSave({"chkSystemDatabase", "chkUserCard", "chkHolidayTable"});
    r.find<QScrollBar>("vslCardNumber")->setValue(10);
    auto* info = r.find<QLabel>("lblJobInfo");
    auto* bar = r.find<QProgressBar>("prbComm");
    static const QRegularExpression count(
        QStringLiteral("(\\d+) of (\\d+) records, (\\S+) elapsed"));
    QStringList disagreements;
    QString atTheEnd;
    r.every(2, [&] {
        const QRegularExpressionMatch m = count.match(info->text());
        if (info->isVisible() && (m.captured(1).toInt() != bar->value() ||
                                  m.captured(2).toInt() != bar->maximum() || !m.hasMatch()))
            disagreements.append(info->text() + " / bar " + QString::number(bar->value()));
        if (QWidget* box = modalUp(); box && info->isVisible()) {
            atTheEnd = m.captured(1) + " of " + m.captured(2);
            box->findChild<QPushButton*>("cmdOk")->click();
        }
    });
    r.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(r.settled([&] { return !atTheEnd.isEmpty(); }));
    EXPECT_EQ(atTheEnd, "24 of 24"); // 2 system records, 12 holidays, 10 cards
    EXPECT_TRUE(disagreements.isEmpty()) << disagreements.join('\n').toStdString();

    // The job waits on the silent line inside its step; a timer runs there too.
    r.controller.controller.setFaultPlan({.fault = kt::sim::Fault::Silence});
    r.window->setLinkTimes(10, 10, 1000);
    r.find<QLineEdit>("txtSave")->setText(r.dir.filePath("02.KT")); // nothing to replace
    QStringList times;
    r.every(20, [&] {
        const QRegularExpressionMatch m = count.match(info->text());
        if (times.isEmpty() || times.last() != m.captured(3))
            times.append(m.captured(3));
        if (m.captured(3) == QLatin1String("0:01")) {
            EXPECT_EQ(m.captured(1), "0");
            r.window->cmdCancel_Click();
        }
        if (QWidget* box = modalUp()) // the job gave up: the time did not run
            box->findChild<QPushButton*>("cmdOk")->click();
    });
    r.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(r.settled());
    EXPECT_EQ(times, (QStringList{"0:00", "0:01"}));
    EXPECT_EQ(r.window->job().outcome(), kt::engine::JobOutcome::Cancelled);
}

// A Save into a complete backup asks first, Cancel the default; Cancel
// leaves the backup as it was and sends nothing.
TEST(MainWindow, ASaveAsksBeforeReplacingACompleteBackup) {
    WindowRig r;
    r.readyToSave();
    {
        kt::test::MessageCatcher catcher;
        r.find<QPushButton>("cmdSave")->click();
        ASSERT_TRUE(r.settled([&] { return !catcher.messages.isEmpty(); }));
    }
    const QString backup = r.dir.filePath("01.KT");
    const auto bytes = [&] {
        QFile file(backup);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    const qsizetype sent = r.controller.controller.requests().size();
    kt::test::MessageCatcher catcher("cmdCancel");
    r.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(kt::test::waitFor([&] { return !catcher.messages.isEmpty(); }, 10000));
    EXPECT_EQ(catcher.messages[0].buttons, "Replace|*Cancel");
    const QString& asked = catcher.messages[0].text;
    EXPECT_TRUE(asked.startsWith(backup + " holds a complete backup of controller 01, made "))
        << asked.toStdString();
    EXPECT_TRUE(asked.contains("the same controller address, 01")) << asked.toStdString();
    ASSERT_TRUE(r.settled());
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(r.controller.controller.requests().size(), sent);
}

// A line lost under the success message is told once that message is
// closed, and the window then shows the port failed.
TEST(MainWindow, ADeviceUnpluggedUnderTheSuccessMessageWaitsForIt) {
    WindowRig r;
    r.readyToSave();
    QStringList texts;
    QPointer<QWidget> first;
    r.every(5, [&] {
        QWidget* box = modalUp();
        if (!box || (box == first && r.window->isPortOpen()))
            return; // the loss is to be known before the first message is closed
        if (box != first)
            texts.append(box->findChild<QLabel*>("lblMessage")->text());
        if (first)
            box->findChild<QPushButton*>("cmdOk")->click();
        else
            r.controller.line->hangUp();
        first = box;
    });
    r.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(r.settled([&] { return texts.size() == 2; }));
    EXPECT_TRUE(texts[0].startsWith(r.window->languageText("ProcessSaveOk")))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[1].startsWith("COM1:19200,e,8,1")) << texts[1].toStdString();
    EXPECT_TRUE(kt::test::waitFor([&] { return r.find<QWidget>("fraSave")->isVisible(); }, 10000));
    r.expectPortFailed();
}

// A language chosen changes every caption, the messages' title and the
// status bar, a stopped job's account among it, at once.
TEST(MainWindow, ALanguageSwitchChangesEveryCaptionAndTheStatusBarAtOnce) {
    WindowRig r;
    const auto chooseLanguage = [&](const char* option) {
        r.trigger("mnuSetting");
        r.find<QAbstractButton>(option)->click();
        r.find<QPushButton>("cmdOk")->click();
    };
    r.readyToSave();
    chooseLanguage("opLanguage(1)");
    EXPECT_EQ(r.text("System", "Language"), "1");

    const char* tc = "TraditionChinese";
    QStringList captions =
        QStringLiteral("fraLanguage=Language fraSet=LinkSetting fraSetting=FunctionSetting "
                       "fraCommStatus=CommunicationStatus fraSave=SaveFile fraLoad=LoadFile "
                       "opLanguage(0)=English opLanguage(1)=TraditionChinese "
                       "opLanguage(2)=SimplifiedChinese cmdOk=OK cmdCancel=Cancel "
                       "lblControllerIDLabel=ControllerID lblRxDelay=RxDelay lblTxDelay=TxDelay "
                       "lblTxTimeOut=RxTimeOut lblSave=SaveFileName lblLoad=LoadFileName "
                       "mnuCommPort=ComPort mnuCommPortActive=CloseComPort mnuSetting=Setting "
                       "mnuExit=Exit")
            .split(u' ');
    for (const kt::engine::Category& category : kt::engine::categories())
        captions.append(QString::fromLatin1(category.checkBox) + '=' + category.languageKey);
    for (const QString& row : captions)
        EXPECT_EQ(caption(r.find(qPrintable(row.section(u'=', 0, 0)))),
                  r.text(tc, qPrintable(row.section(u'=', 1))))
            << row.toStdString();
    EXPECT_EQ(r.window->windowTitle(), r.text(tc, "LinkKT550AX"));
    EXPECT_TRUE(r.find<QAction>("mnuSetting")->text().endsWith("(&E)"));
    EXPECT_TRUE(r.find<QAction>("mnuProtocol")->text().endsWith("<" + r.text(tc, "ON") + ">"));
    EXPECT_EQ(r.find<QLabel>("CommStatusText")->text(), r.text(tc, "ON"));
    {
        kt::test::MessageCatcher catcher;
        r.window->tell(kt::shell::MsgStyle::Information,
                       r.window->languageText("ProcessSaveOk") + '.');
        ASSERT_TRUE(kt::test::waitFor([&] { return catcher.messages.size() == 1; }, 10000));
        EXPECT_EQ(catcher.messages[0].title, r.text(tc, "LinkKT550AX"));
        EXPECT_EQ(catcher.messages[0].text, r.text(tc, "ProcessSaveOk") + ".");
    }

    r.window->cmdSave_Click();
    r.window->cmdCancel_Click();
    auto* left = r.find<QLabel>("CommEcho");
    EXPECT_EQ(left->text(), kt::shell::fillIn(r.text(tc, "SaveStopped"), {"0", "2"}));
    chooseLanguage("opLanguage(0)");
    EXPECT_EQ(left->text(), "Backup stopped: 0 of 2 records saved");
    EXPECT_EQ(left->toolTip(), left->text());
    EXPECT_EQ(r.find<QLabel>("CommStatusText")->text(), "ON");
}

// Typed times are in force at once and clamped on OK; a job started with
// the panel open (by an accessibility client) keeps the panel open and
// unchanged. The settings, the ticked categories and the last folder, where
// a file choice opens, outlive the window; a Language.ini of garbage gives
// the defaults.
TEST(MainWindow, TheSettingsPanelAndWhatLanguageIniKeeps) {
    WindowRig r;
    QDir(r.dir.path()).mkdir("site-a");
    r.readyToSave({"chkFlowControl", "chkUserCard", "chkDoSet"}, "site-a/01.KT");
    r.find<QCheckBox>("chkDoSet")->setChecked(false);
    r.trigger("mnuSetting");
    EXPECT_FALSE(r.window->isControlEnabled("mnuSetting"));
    auto* timeOut = r.find<QLineEdit>("txtRxTimeOut");
    auto* txDelay = r.find<QLineEdit>("txtTxDelay");
    EXPECT_EQ(timeOut->text() + ' ' + txDelay->text(), "500 10");
    timeOut->selectAll();
    QTest::keyClicks(timeOut, "1500");
    EXPECT_EQ(r.window->currentSettings().sngRxTimeOut, 1500); // unclamped
    txDelay->clear();
    EXPECT_EQ(txDelay->text(), "0");
    txDelay->selectAll();
    QTest::keyClicks(txDelay, "12.5x");
    EXPECT_EQ(txDelay->text(), "12.5");

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
    EXPECT_EQ(r.text("COMMUNICATION", "RXTimeOut") + ' ' + r.text("COMMUNICATION", "TXDelayTime") +
                  ' ' + r.text("COMMUNICATION", "RXDelayTime"),
              "1000 12.5 10");
    EXPECT_EQ(timeOut->text(), "1500");
    EXPECT_TRUE(r.window->isControlEnabled("mnuSetting"));
    EXPECT_FALSE(r.find<QWidget>("fraSetting")->isVisible());
    r.trigger("mnuSetting");
    EXPECT_EQ(timeOut->text(), "1000");

    r.window.reset();
    frmKT550AX again(r.ini);
    for (const kt::engine::Category& category : kt::engine::categories())
        EXPECT_EQ(again.findChild<QCheckBox*>(category.checkBox)->isChecked(),
                  QByteArray(category.checkBox) == "chkFlowControl" ||
                      QByteArray(category.checkBox) == "chkUserCard")
            << category.checkBox;
    const QString last = again.currentSettings().lastFolder;
    EXPECT_EQ(last, r.dir.filePath("site-a"));

    // "…" opens there, with the box's file when a backup is to be saved or
    // when that file is there.
    const QString other = r.dir.filePath("other");
    QDir().mkpath(other);
    QFile(last + "/there.KT").open(QIODevice::WriteOnly);
    const std::tuple<QString, QString, bool, QString> cases[] = {
        {"", last, false, last},
        {"", last, true, last},
        {other + "/there.KT", last, false, last + "/there.KT"},
        {other + "/gone.KT", last, false, last},
        {other + "/new.KT", last, true, last + "/new.KT"},
        {other + "/new.KT", "", true, other + "/new.KT"},
        {other + "/new.KT", r.dir.filePath("removed"), false, other},
        {"", "", false, QDir::homePath()}};
    for (const auto& [box, lastFolder, forSaving, start] : cases)
        EXPECT_EQ(kt::ui::browseStart(box, lastFolder, forSaving), start)
            << box.toStdString() << " / " << lastFolder.toStdString() << " / " << forSaving;

    // On a Language.ini of garbage: the defaults, the port closed, the
    // shipped texts.
    QFile file(r.ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 200000; ++i)
        file.putChar(char((i * 31) % 256));
    file.close();
    frmKT550AX garbled(r.ini);
    garbled.show();
    EXPECT_EQ(garbled.currentSettings().intComPort, 2);
    EXPECT_EQ(garbled.findChild<QAction*>("mnuProtocol")->text(), "  [ COM2:19200,e,8,1 ]   <OFF>");
    EXPECT_FALSE(garbled.isControlEnabled("cmdSave"));
}

// The number boxes follow their scroll bars and move them when typed into;
// a job takes the numbers and the ticked boxes only, and a restore asked
// about and cancelled writes nothing and keeps the card count chosen.
TEST(MainWindow, NumbersFollowTheScrollBarsAndAJobTakesThemWithTheTickedBoxes) {
    WindowRig r;
    ASSERT_TRUE(kt::test::openWindowPort(*r.window));
    auto* id = r.find<QScrollBar>("vslControllerID");
    auto* cards = r.find<QScrollBar>("vslCardNumber");
    auto* idBox = r.find<QSpinBox>("txtControllerID");
    auto* cardBox = r.find<QSpinBox>("txtCardNumber");
    const auto shown = [&] { return idBox->text() + ' ' + cardBox->text(); };
    EXPECT_EQ(shown(), "01 0100");
    for (const auto& [idValue, cardValue, text] :
         {std::tuple{7, 42, "07 0042"}, {99, 9999, "99 9999"}, {1, 1, "01 0001"}}) {
        id->setValue(idValue);
        cards->setValue(cardValue);
        EXPECT_EQ(shown(), text);
    }
    for (const auto& [box, typed, key, bar, value] :
         {std::tuple{cardBox, "2437", Qt::Key_Return, cards, 2437},
          std::tuple{idBox, "42", Qt::Key_Enter, id, 42}}) {
        EXPECT_TRUE(box->focusPolicy() & Qt::TabFocus);
        box->selectAll();
        QTest::keyClicks(box, typed);
        QTest::keyClick(box, key);
        EXPECT_EQ(bar->value(), value);
    }

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
    kt::test::MessageCatcher catcher("cmdCancel");
    r.find<QPushButton>("cmdLoad")->click();
    ASSERT_TRUE(kt::test::waitFor([&] { return !catcher.messages.isEmpty(); }, 10000));
    EXPECT_EQ(catcher.messages[0].buttons, "Restore|*Cancel");
    EXPECT_EQ(cards->value(), 2437);
    EXPECT_TRUE(r.controller.controller.requests().isEmpty());
}

} // namespace
