// Whole jobs through the real window, over pseudo-terminals, against the
// virtual controller: a backup of a full controller restored into an empty
// one, a backup that gets no reply, a line that goes away and a window
// closed in the middle of a job.
#include "shell/ini_file.h"
#include "sim/pty_controller.h"
#include "support/message_catcher.h"
#include "support/printers.h"
#include "support/wait_for.h"
#include "ui/frm_kt550ax.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kt::ui::frmKT550AX;

struct EndToEnd {
    EndToEnd() {
        QFile::copy(QStringLiteral(KT_SOURCE_DIR "/Language.ini"), ini);
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_TRUE(source.mapPort(ini, 1));
        EXPECT_TRUE(target.mapPort(ini, 2));
        window = std::make_unique<frmKT550AX>(ini);
        window->show();
        // No pauses beyond what the line takes: the test is about the data.
        window->setLinkTimes(0, 0, 500);
    }
    template <typename T> T* find(const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    void openPort(int number) {
        find<QAction>(qPrintable(QString("mnuCom(%1)").arg(number)))->trigger();
        find<QAction>("mnuCommPortActive")->trigger();
        ASSERT_TRUE(window->isPortOpen());
    }
    // Port 1 open, every category ticked with 2500 cards, the backup path typed.
    void prepareSave() {
        openPort(1);
        for (QCheckBox* box : window->findChildren<QCheckBox*>())
            box->setChecked(true);
        find<QScrollBar>("vslCardNumber")->setValue(2500);
        find<QLineEdit>("txtSave")->setText(backup);
    }
    bool runJob(const char* button) {
        find<QPushButton>(button)->click();
        return kt::test::waitFor([&] { return !window->job().isActive(); }, 120000);
    }

    QTemporaryDir dir;
    QString ini = dir.filePath("Language.ini");
    QString backup = dir.filePath("01.KT");
    kt::sim::PtyController source{2500};
    kt::sim::PtyController target{0};
    std::unique_ptr<frmKT550AX> window;
};

TEST(EndToEnd, ABackupRestoresAWholeControllerIntoAnEmptyOne) {
    EndToEnd e;
    kt::test::MessageCatcher catcher;
    e.prepareSave();
    ASSERT_TRUE(e.runJob("cmdSave"));
    ASSERT_EQ(catcher.messages.size(), 1);
    EXPECT_EQ(catcher.messages[0].text, e.window->languageText("ProcessSaveOk") +
                                            ".\n2959 records saved, 0 card slots empty.");
    // Nothing hidden is left beside the backup: no lock, no journal, no copy.
    const QStringList set = {"01.KT", "201.KT", "Language.ini"};
    EXPECT_EQ(QDir(e.dir.path()).entryList(QDir::Files | QDir::Hidden), set);
    EXPECT_EQ(e.source.controller.requests().size(), 459 + 2500);
    EXPECT_EQ(kt::shell::ReadIni(e.ini, "System", "SaveFile"), e.backup.toUtf8());

    e.find<QAction>("mnuCommPortActive")->trigger();
    e.openPort(2);
    // The restore is read back and compared.
    e.find<QAction>("mnuSetting")->trigger();
    e.find<QCheckBox>("chkVerifyAfterLoad")->setChecked(true);
    e.find<QPushButton>("cmdOk")->click();
    EXPECT_EQ(kt::shell::ReadIni(e.ini, "System", "VerifyAfterLoad"), "1");
    e.window->setLinkTimes(0, 0, 500);
    e.find<QLineEdit>("txtLoad")->setText(e.backup);
    ASSERT_TRUE(e.runJob("cmdLoad"));
    // The restore asks first, naming what goes where.
    ASSERT_EQ(catcher.messages.size(), 3);
    EXPECT_TRUE(catcher.messages[1].text.startsWith("Restore " + e.backup +
                                                    " into controller 01: "
                                                    "Master Card, System Database"))
        << catcher.messages[1].text.toStdString();
    EXPECT_TRUE(catcher.messages[1].text.endsWith("Card Data (2500), Flow Control, "
                                                  "DO Set Time Zone, DI Alarm Time Zone.\n\n"
                                                  "Write it into the controller now?"));
    EXPECT_EQ(catcher.messages[2].text, "Restore verified: 2959 records match.");
    EXPECT_EQ(e.target.controller.requests().size(), 2 * (459 + 2500));
    EXPECT_EQ(e.target.store.records().size(), e.source.store.records().size());
    EXPECT_TRUE(e.target.store.records() == e.source.store.records());
    EXPECT_EQ(e.window->job().link().errorCount(), 0);
    EXPECT_EQ(QDir(e.dir.path()).entryList(QDir::Files | QDir::Hidden), set);
    // The controls are back as before the jobs.
    EXPECT_TRUE(e.window->isControlEnabled("cmdSave"));
    EXPECT_FALSE(e.find<QWidget>("fraCommStatus")->isVisible());
}

// A wrong address: the backup stops at its first record, names the address
// and the Controller ID, and leaves no file.
TEST(EndToEnd, ASaveThatGetsNoReplyLeavesNoFile) {
    EndToEnd e;
    kt::test::MessageCatcher catcher;
    e.openPort(1);
    e.find<QCheckBox>("chkSystemDatabase")->setChecked(true);
    e.find<QScrollBar>("vslControllerID")->setValue(9);
    e.find<QLineEdit>("txtSave")->setText(e.backup);
    e.window->setLinkTimes(0, 0, 50);
    ASSERT_TRUE(e.runJob("cmdSave"));
    ASSERT_EQ(catcher.messages.size(), 1);
    // The port as chosen, and the line it leads to.
    const QString text = catcher.messages[0].text;
    EXPECT_TRUE(text.startsWith("No controller answered at address 09 on COM1 ("))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith("). Check the Controller ID, the cable and the port's settings"))
        << text.toStdString();
    EXPECT_EQ(QDir(e.dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"Language.ini"});
}

TEST(EndToEnd, TheCommandLineWritesTheSameFileAsTheWindow) {
    EndToEnd e;
    kt::test::MessageCatcher catcher;
    e.openPort(1);
    for (const char* box : {"chkSystemDatabase", "chkHolidayTable", "chkUserCard", "chkDiSet"})
        e.find<QCheckBox>(box)->setChecked(true);
    e.find<QScrollBar>("vslCardNumber")->setValue(40);
    e.find<QLineEdit>("txtSave")->setText(e.backup);
    ASSERT_TRUE(e.runJob("cmdSave"));
    e.find<QAction>("mnuCommPortActive")->trigger(); // the command line takes the line over

    QProcess cli;
    const QString cliBackup = e.dir.filePath("cli.KT");
    cli.start(QStringLiteral(KT_CLI),
              {"save", cliBackup, "--port", e.source.line->devicePath(), "--only",
               "system,holiday,cards,diset", "--cards", "40", "--quiet"});
    ASSERT_TRUE(kt::test::waitFor([&] { return cli.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const auto withoutTimes = [](const QString& path) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        QList<QByteArray> lines = file.readAll().split('\n');
        lines.removeIf([](const QByteArray& line) {
            return line.startsWith("Started=") || line.startsWith("Finished=");
        });
        return lines;
    };
    EXPECT_GT(withoutTimes(cliBackup).size(), 60); // 63 records and the head
    EXPECT_EQ(withoutTimes(cliBackup), withoutTimes(e.backup));
}

TEST(EndToEnd, ClosingTheWindowDuringAJobEndsItCleanly) {
    EndToEnd e;
    kt::test::MessageCatcher catcher;
    e.prepareSave();
    // Closed while a request is under way, in the middle of the user cards.
    qsizetype requestsAtClose = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (e.source.controller.requests().size() > 200 && e.window->isVisible()) {
            requestsAtClose = e.source.controller.requests().size();
            e.window->close();
        }
    });
    closer.start(1);
    e.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(kt::test::waitFor([&] { return !e.window->job().isActive(); }, 60000));
    EXPECT_GT(requestsAtClose, 200);
    EXPECT_LT(requestsAtClose, 459 + 2500);
    EXPECT_FALSE(e.window->isPortOpen());
    // The port is closed: nothing more can reach the controller. Whatever
    // was on its way arrives with the events still pending.
    const qint64 sizeAtClose = QFileInfo(e.backup).size();
    QCoreApplication::processEvents();
    EXPECT_LE(e.source.controller.requests().size(), requestsAtClose + 1);
    EXPECT_EQ(QFileInfo(e.backup).size(), sizeAtClose);
    EXPECT_TRUE(catcher.messages.isEmpty());
}

// The line goes away in the middle of a backup: the job stops at once and
// says so in the port's words, and the window shows the port closed.
TEST(EndToEnd, ALineThatGoesAwayEndsTheJobAndLeavesThePortClosed) {
    EndToEnd e;
    kt::test::MessageCatcher catcher;
    e.prepareSave();
    QTimer unplug;
    QObject::connect(&unplug, &QTimer::timeout, [&] {
        if (e.source.line && e.source.controller.requests().size() > 100)
            e.source.line.reset(); // the other end of the pseudo-terminal closes
    });
    unplug.start(1);
    ASSERT_TRUE(e.runJob("cmdSave"));
    EXPECT_EQ(e.window->job().outcome(), kt::engine::JobOutcome::PortLost);
    ASSERT_EQ(catcher.messages.size(), 1);
    EXPECT_TRUE(catcher.messages[0].text.contains("went away"))
        << catcher.messages[0].text.toStdString();
    EXPECT_FALSE(e.window->isPortOpen());
    EXPECT_TRUE(e.find<QAction>("mnuProtocol")->text().endsWith("<OFF>"));
    EXPECT_EQ(e.find<QAction>("mnuCommPortActive")->text().remove(u'&'), "Open Com Port");
    EXPECT_EQ(kt::shell::ReadIni(e.backup, "HEAD", "Complete"), "0");
}

} // namespace
