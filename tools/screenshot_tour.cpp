// Shows the main window in its states and saves a PNG of each: port closed,
// port open, settings panel, job panel, Traditional Chinese, message box,
// and the differences a compare found, over its message.
// Run under an X server (scripts/screenshots starts Xvfb).
#include "shell/ini_file.h"
#include "shell/language.h"
#include "sim/pty_controller.h"
#include "support/window_port.h"
#include "ui/frm_kt550ax.h"
#include "ui/frm_msg_box.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

void settle(int ms = 300) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(const QPixmap& pixmap, const QString& dir, const char* name) {
    const QString path = QDir(dir).filePath(QString::fromLatin1(name));
    const bool ok = pixmap.save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: screenshot_tour LANGUAGE_INI OUTPUT_DIR\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(outDir);

    kt::sim::PtyController controller;
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    QFile::copy(QString::fromLocal8Bit(argv[1]), ini);
    QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
    const kt::shell::Status prepared = kt::shell::WriteIniValues(
        ini, {{"COMMUNICATION", "ComPort", "1"},
              {"System", "SaveFile", "/home/technician/backup/site-a.KT"},
              {"System", "LoadFile", "/home/technician/backup/site-a.KT"}});
    if (!prepared) {
        std::fprintf(stderr, "%s\n", qPrintable(prepared.error().message));
        return 1;
    }
    if (!controller.mapPort(ini)) {
        std::fprintf(stderr, "%s\n", qPrintable(controller.error));
        return 1;
    }

    kt::ui::frmKT550AX window(ini);
    window.show();
    settle();
    bool ok = save(window.grab(), outDir, "1-port-closed.png");

    ok &= kt::test::openWindowPort(window);
    for (const char* name : {"chkMasterCard", "chkSystemDatabase", "chkUserCard", "chkFlowControl"})
        window.findChild<QAbstractButton*>(name)->setChecked(true);
    settle();
    ok &= save(window.grab(), outDir, "2-port-open.png");

    window.findChild<QAction*>("mnuSetting")->trigger();
    settle();
    ok &= save(window.grab(), outDir, "3-settings-panel.png");
    window.findChild<QRadioButton*>("opLanguage(1)")->click();
    window.findChild<QPushButton*>("cmdOk")->click();
    settle();
    ok &= save(window.grab(), outDir, "4-traditional-chinese.png");

    // A backup under way: which way, where, how far.
    window.findChild<QRadioButton*>("opLanguage(0)")->click();
    window.findChild<QAction*>("mnuSetting")->trigger();
    window.findChild<QRadioButton*>("opLanguage(0)")->click();
    window.findChild<QPushButton*>("cmdOk")->click();
    window.findChild<QLineEdit*>("txtSave")->setText(dir.filePath("site-a.KT"));
    window.findChild<QPushButton*>("cmdSave")->click();
    settle(1500);
    ok &= save(window.grab(), outDir, "5-job-panel.png");
    window.cmdCancel_Click();
    settle();

    // A message box: the restore's question, then a long message that wraps.
    const auto grabBox = [&](const char* name, const char* button) {
        QTimer::singleShot(700, [&, name, button] {
            auto& box = *qobject_cast<kt::ui::frmMsgBox*>(QApplication::activeModalWidget());
            const QRect frame = box.frameGeometry();
            ok &= save(box.screen()->grabWindow(0, frame.x() - 40, frame.y() - 40,
                                                frame.width() + 80, frame.height() + 80),
                       outDir, name);
            box.findChild<QPushButton*>(button)->click();
        });
    };
    window.findChild<QLineEdit*>("txtLoad")->setText(dir.filePath("site-a.KT"));
    // Until the job and its messages are done.
    const auto settled = [&] {
        while (window.job().isActive() || kt::ui::messagesPending())
            settle(100);
    };
    grabBox("6-restore-question.png", "cmdCancel");
    window.findChild<QPushButton*>("cmdLoad")->click();
    settled();
    grabBox("7-message-box.png", "cmdOk");
    window.tell(kt::shell::MsgStyle::Information,
                window.languageText("ProcessSaveOk") + ".\n" +
                    kt::shell::fillIn(window.languageText("SaveSummary"), {"2516", "0"}) + '.');
    settled();

    // A compare after a record changed on the controller: its message, and
    // the list of the differences opened over it.
    for (QCheckBox* box : window.findChildren<QCheckBox*>())
        box->setChecked(box->objectName() == QLatin1String("chkSystemDatabase"));
    window.findChild<QLineEdit*>("txtSave")->setText(dir.filePath("site-b.KT"));
    window.findChild<QLineEdit*>("txtLoad")->setText(dir.filePath("site-b.KT"));
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<kt::ui::frmMsgBox*>(QApplication::activeModalWidget()))
            box->findChild<QPushButton*>("cmdOk")->click();
    });
    answer.start(50);
    window.cmdSave_Click();
    settled();
    answer.stop();
    controller.store.setValue("DI", "0000000000000000");
    QTimer::singleShot(700, [&] {
        auto* box = qobject_cast<kt::ui::frmMsgBox*>(QApplication::activeModalWidget());
        QTimer::singleShot(300, [&, box] {
            // Below the box, so that both show.
            auto* list = QApplication::activeModalWidget();
            list->resize(list->width(), 220);
            list->move(box->x(), box->frameGeometry().bottom() + 12);
            settle(400);
            const QRect area = box->frameGeometry().united(list->frameGeometry());
            ok &= save(box->screen()->grabWindow(0, area.x() - 20, area.y() - 20, area.width() + 40,
                                                 area.height() + 40),
                       outDir, "8-compare-differences.png");
            list->findChild<QPushButton*>("cmdClose")->click();
            box->findChild<QPushButton*>("cmdOk")->click();
        });
        box->findChild<QPushButton*>("cmdDetails")->click();
    });
    window.findChild<QAction*>("mnuCompare")->trigger();
    settled();
    window.close();
    return ok ? 0 : 1;
}
