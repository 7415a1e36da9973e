// The main window, offscreen, with its port on a pseudo-terminal served by
// the virtual controller: the set-up that the window's tests share.
#pragma once

#include "shell/ini_file.h"
#include "sim/pty_controller.h"
#include "support/wait_for.h"
#include "support/window_port.h"
#include "ui/frm_kt550ax.h"
#include "ui/frm_msg_box.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace kt::test {

// The modal window up, if one is.
inline QWidget* modalUp() {
    QWidget* modal = QApplication::activeModalWidget();
    return modal && modal->isVisible() ? modal : nullptr;
}

struct WindowRig {
    WindowRig() {
        qputenv("XDG_STATE_HOME", dir.path().toLocal8Bit()); // a job log of its own
        QFile::copy(QStringLiteral(KT_SOURCE_DIR "/Language.ini"), ini);
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_TRUE(controller.mapPort(ini)) << controller.error.toStdString();
        EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "/dev/kt-missing"));
        window = std::make_unique<ui::frmKT550AX>(ini);
        window->show();
    }
    ~WindowRig() { qputenv("XDG_STATE_HOME", stateHome); }
    template <typename T = QObject> T* find(const char* name) {
        T* control = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(control) << name;
        return control;
    }
    void trigger(const char* action) { find<QAction>(action)->trigger(); }
    QString text(const char* section, const char* key) {
        return QString::fromUtf8(kt::shell::ReadIni(ini, section, key).trimmed());
    }
    // The port open, the boxes ticked and a backup typed.
    void readyToSave(std::initializer_list<const char*> boxes = {"chkSystemDatabase"},
                     const char* backup = "01.KT") {
        EXPECT_TRUE(kt::test::openWindowPort(*window));
        for (const char* box : boxes)
            find<QCheckBox>(box)->setChecked(true);
        find<QLineEdit>("txtSave")->setText(dir.filePath(backup));
    }
    // Calls `step` every few milliseconds, in place of the one before.
    void every(int interval, const std::function<void()>& step) {
        driver.disconnect();
        QObject::connect(&driver, &QTimer::timeout, step);
        driver.start(interval);
    }
    // Waits for the job and its messages to end with `also` holding.
    bool settled(const std::function<bool()>& also = [] { return true; }) {
        return waitFor(
            [&] { return also() && !window->job().isActive() && !kt::ui::messagesPending(); },
            10000);
    }
    // The controls enabled with the port closed (c), open (o) or in a job (j),
    // and the job panel shown in place of the file panels during a job only.
    void expectControls(const char* when, char state) {
        SCOPED_TRACE(when);
        QStringList rows =
            QStringLiteral("mnuCommPort:c mnuCommPortActive:co mnuSetting:co mnuExit:co "
                           "mnuJobLog:co fraSet:oj lblControllerIDLabel:oj fraSave:oj "
                           "lblSave:oj fraLoad:oj lblLoad:oj txtControllerID:o "
                           "vslControllerID:o txtCardNumber:o vslCardNumber:o txtSave:o "
                           "cmdSaveBrowse:o cmdSave:o txtLoad:o cmdLoadBrowse:o cmdLoad:o "
                           "mnuCompare:o")
                .split(u' ');
        for (const kt::engine::Category& category : kt::engine::categories())
            rows.append(QString::fromLatin1(category.checkBox) + ":o");
        for (const QString& row : rows)
            EXPECT_EQ(window->isControlEnabled(row.section(u':', 0, 0)),
                      row.section(u':', 1).contains(QLatin1Char(state)))
                << row.toStdString();
        EXPECT_EQ(find<QWidget>("fraCommStatus")->isVisible(), state == 'j');
        EXPECT_EQ(find<QWidget>("fraSave")->isVisible(), state != 'j');
    }
    void expectPortFailed() {
        expectControls("port failed", 'c');
        EXPECT_FALSE(window->isPortOpen());
        EXPECT_EQ(find<QLabel>("CommStatusText")->text(), "Error");
    }

    QTemporaryDir dir;
    QByteArray stateHome = qgetenv("XDG_STATE_HOME");
    QString ini = dir.filePath("Language.ini");
    kt::sim::PtyController controller{10};
    std::unique_ptr<ui::frmKT550AX> window;
    QTimer driver;
};

} // namespace kt::test
