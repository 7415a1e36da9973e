// Whole jobs through the real window, over pseudo-terminals, against the
// virtual controller.
#include "shell/ini_file.h"
#include "sim/pty_controller.h"
#include "support/message_catcher.h"
#include "support/printers.h"
#include "support/wait_for.h"
#include "support/window_port.h"
#include "ui/frm_kt550ax.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct EndToEnd {
    // `answer`: the button the message boxes are closed with.
    explicit EndToEnd(const char* answer = "cmdOk") : catcher(answer) {
        QFile::copy(QStringLiteral(KT_SOURCE_DIR "/Language.ini"), ini);
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_TRUE(source.mapPort(ini, 1));
        EXPECT_TRUE(target.mapPort(ini, 2));
        window = std::make_unique<kt::ui::frmKT550AX>(ini);
        window->show();
        window->setLinkTimes(0, 0, 500); // no pauses beyond the line's own
    }
    template <typename T> T* find(const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    void openPort(int number) {
        find<QAction>(qPrintable(QString("mnuCom(%1)").arg(number)))->trigger();
        ASSERT_TRUE(kt::test::openWindowPort(*window));
    }
    // Port 1 open, the boxes ticked (all by default), the cards and the backup chosen.
    void prepareSave(const QStringList& boxes = {}, int cards = 2500) {
        openPort(1);
        for (QCheckBox* box : window->findChildren<QCheckBox*>())
            box->setChecked(boxes.isEmpty() || boxes.contains(box->objectName()));
        find<QScrollBar>("vslCardNumber")->setValue(cards);
        find<QLineEdit>("txtSave")->setText(backup);
    }
    bool runJob(const char* button) {
        find<QPushButton>(button)->click();
        return kt::test::waitFor(
            [&] { return !window->job().isActive() && !kt::ui::messagesPending(); }, 120000);
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir;
    QString ini = dir.filePath("Language.ini");
    QString backup = dir.filePath("01.KT");
    kt::sim::PtyController source{2500};
    kt::sim::PtyController target{0};
    std::unique_ptr<kt::ui::frmKT550AX> window;
    kt::test::MessageCatcher catcher;
};

// A full controller backed up and restored into an empty one, read back:
// every record arrives, the restore names what goes where, and the empty
// controller is backed up first beside the backup (the question's option,
// ticked), which the end names; nothing else is left beside it.
TEST(EndToEnd, ABackupRestoresAWholeControllerIntoAnEmptyOne) {
    EndToEnd e;
    e.prepareSave();
    ASSERT_TRUE(e.runJob("cmdSave"));
    ASSERT_EQ(e.catcher.messages.size(), 1);
    EXPECT_EQ(e.catcher.messages[0].text, e.window->languageText("ProcessSaveOk") +
                                              ".\n2959 records saved, 0 card slots empty.");
    const QStringList files = {"01.KT", "201.KT", "Language.ini"}; // no lock, journal or copy
    EXPECT_EQ(e.files(), files);
    EXPECT_EQ(e.source.controller.requests().size(), 459 + 2500);
    EXPECT_EQ(kt::shell::ReadIni(e.ini, "System", "SaveFile"), e.backup.toUtf8());

    e.find<QAction>("mnuCommPortActive")->trigger();
    e.openPort(2);
    e.find<QAction>("mnuSetting")->trigger();
    e.find<QCheckBox>("chkVerifyAfterLoad")->setChecked(true);
    e.find<QPushButton>("cmdOk")->click();
    EXPECT_EQ(kt::shell::ReadIni(e.ini, "System", "VerifyAfterLoad"), "1");
    e.window->setLinkTimes(0, 0, 500);
    e.find<QLineEdit>("txtLoad")->setText(e.backup);
    ASSERT_TRUE(e.runJob("cmdLoad"));
    ASSERT_EQ(e.catcher.messages.size(), 3);
    EXPECT_EQ(e.catcher.messages[1].text,
              "Restore " + e.backup +
                  " into controller 01: Master Card, System Database, Application Set, Time "
                  "Zone Table, Holiday Table, Card Data (2500), Flow Control, DO Set Time Zone, "
                  "DI Alarm Time Zone.\n\nWrite it into the controller now?");
    const QString before = e.window->job().backedUpFirst();
    EXPECT_TRUE(QFileInfo(before).fileName().startsWith("01.before-restore-"))
        << before.toStdString();
    EXPECT_EQ(e.catcher.messages[2].text, "Restore verified: 2959 records match.\nThe "
                                          "controller's records before the restore are in " +
                                              before + ".");
    EXPECT_EQ(e.target.controller.requests().size(), 3 * (459 + 2500));
    EXPECT_TRUE(e.target.store.records() == e.source.store.records());
    EXPECT_EQ(e.window->job().link().errorCount(), 0);
    EXPECT_EQ(e.files(), QStringList({QFileInfo(before).fileName()}) + files);
    EXPECT_TRUE(e.window->isControlEnabled("cmdSave"));
    EXPECT_FALSE(e.find<QWidget>("fraCommStatus")->isVisible());
}

// The window's backup: from a wrong address none at all, and a message
// naming the address, the port and its line; from the right one the same
// file as the command line's.
TEST(EndToEnd, TheWindowSavesWhatTheCommandLineSavesAndNothingFromAWrongAddress) {
    EndToEnd e;
    e.prepareSave({"chkSystemDatabase", "chkHolidayTable", "chkUserCard", "chkDiSet"}, 40);
    e.find<QScrollBar>("vslControllerID")->setValue(9);
    e.window->setLinkTimes(0, 0, 50);
    ASSERT_TRUE(e.runJob("cmdSave"));
    ASSERT_EQ(e.catcher.messages.size(), 1);
    EXPECT_EQ(e.catcher.messages[0].text,
              "No controller answered at address 09 on COM1 (" + e.source.line->devicePath() +
                  "). Check the Controller ID, the cable and the port's settings");
    EXPECT_EQ(e.files(), QStringList{"Language.ini"});

    e.find<QScrollBar>("vslControllerID")->setValue(1);
    e.window->setLinkTimes(0, 0, 500);
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
        return QString::fromUtf8(file.readAll())
            .remove(QRegularExpression("(Started|Finished)=.*\n"));
    };
    EXPECT_GT(withoutTimes(cliBackup).count(u'\n'), 60); // 63 records and the head
    EXPECT_EQ(withoutTimes(cliBackup), withoutTimes(e.backup));
}

// A backup whose line goes away, or whose window is closed and the user
// says stop, stops at once: the port closes, nothing more reaches the
// controller or the file, which stays incomplete; a lost line is told in
// the port's words. A close the user does not confirm lets the job finish.
TEST(EndToEnd, ABackupCutShortClosesThePortAndStopsAtOnce) {
    enum class Cut { LineGone, CloseAndStop, CloseAndGoOn };
    for (const Cut cut : {Cut::LineGone, Cut::CloseAndStop, Cut::CloseAndGoOn}) {
        SCOPED_TRACE(int(cut));
        EndToEnd e(cut == Cut::CloseAndGoOn ? "cmdCancel" : "cmdOk");
        qsizetype requestsAtStop = 0;
        bool cutDone = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (cutDone || e.source.controller.requests().size() <= 200)
                return;
            cutDone = true;
            if (cut == Cut::LineGone) {
                requestsAtStop = e.source.controller.requests().size();
                e.source.line.reset(); // the other end of the pseudo-terminal closes
                return;
            }
            e.window->close(); // asks first; the job runs while it asks
        });
        // The job stops once the question is answered.
        e.catcher.answered = [&] {
            if (cut == Cut::CloseAndStop && requestsAtStop == 0)
                requestsAtStop = e.source.controller.requests().size();
        };
        watch.start(1);
        e.prepareSave();
        ASSERT_TRUE(e.runJob("cmdSave"));
        if (cut == Cut::CloseAndGoOn) {
            EXPECT_EQ(e.window->job().outcome(), kt::engine::JobOutcome::Finished);
            EXPECT_TRUE(e.window->isVisible());
            ASSERT_EQ(e.catcher.messages.size(), 2); // the question, then the end
            EXPECT_EQ(e.catcher.messages[0].buttons, "Stop and close|*Go on");
            continue;
        }
        EXPECT_GT(requestsAtStop, 200);
        EXPECT_LT(requestsAtStop, 459 + 2500);
        const qint64 sizeAtStop = QFileInfo(e.backup).size();
        QCoreApplication::processEvents(); // what was on its way arrives
        EXPECT_LE(e.source.controller.requests().size(), requestsAtStop + 1);
        EXPECT_EQ(QFileInfo(e.backup).size(), sizeAtStop);
        EXPECT_EQ(kt::shell::ReadIni(e.backup, "HEAD", "Complete"), "0");
        EXPECT_FALSE(e.window->isPortOpen());
        EXPECT_EQ(e.window->job().outcome(), cut == Cut::LineGone
                                                 ? kt::engine::JobOutcome::PortLost
                                                 : kt::engine::JobOutcome::Cancelled);
        ASSERT_EQ(e.catcher.messages.size(), 1);
        if (cut == Cut::CloseAndStop) {
            EXPECT_TRUE(e.catcher.messages[0].text.startsWith("A job is running ("))
                << e.catcher.messages[0].text.toStdString();
            continue;
        }
        EXPECT_TRUE(e.catcher.messages[0].text.contains("went away"))
            << e.catcher.messages[0].text.toStdString();
        EXPECT_TRUE(e.find<QAction>("mnuProtocol")->text().endsWith("<OFF>"));
        EXPECT_EQ(e.find<QAction>("mnuCommPortActive")->text().remove(u'&'), "Open Com Port");
    }
}

} // namespace
