// The link over a real pseudo-terminal, through QSerialPort and the real
// clock, against the virtual controller: open errors, bytes left before the
// open, and a device left configured by a killed program.
#include "link/line_port.h"
#include "link/link_transaction.h"
#include "shell/ini_file.h"
#include "sim/pty_controller.h"
#include "support/recording_view.h"

#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

using kt::link::LinePort;
using kt::link::LinkTransaction;
using namespace kt::sim;

struct PtyRig {
    PtyRig() {
        EXPECT_TRUE(sim.mapPort(ini)) << sim.error.toStdString();
        settings.sngTxDelay = 5;
        settings.sngRxDelay = 5;
        settings.sngRxTimeOut = 100;
        EXPECT_TRUE(port.setPortNumber(1));
        EXPECT_TRUE(port.setSettings("19200,e,8,1"));
        EXPECT_TRUE(port.open()) << port.errorString().toStdString();
        link.enable();
    }

    QTemporaryDir dir;
    QString ini = dir.filePath("Language.ini");
    PtyController sim{100};
    RecordStore& store = sim.store;
    VirtualController& controller = sim.controller;
    LinePort port{ini};
    kt::link::EventLoopClock clock;
    kt::shell::Settings settings;
    kt::test::RecordingView view;
    LinkTransaction link{port, clock, view, settings};
};

TEST(PtyLink, OpenErrorsSayWhatToDo) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "/dev/kt-no-such-device");
    LinePort port(ini);

    EXPECT_FALSE(port.setPortNumber(9));
    EXPECT_TRUE(port.errorString().contains("COM1 to COM8"));

    ASSERT_TRUE(port.setPortNumber(3));
    ASSERT_TRUE(port.setSettings("19200,e,8,1"));
    EXPECT_FALSE(port.open());
    EXPECT_TRUE(port.errorString().contains("/dev/kt-no-such-device (COM3) does not exist"))
        << port.errorString().toStdString();
    EXPECT_FALSE(port.isOpen());

    ASSERT_TRUE(port.setPortNumber(4));
    EXPECT_FALSE(port.setSettings("19200,x,8,1"));
    EXPECT_TRUE(port.errorString().contains("parity")) << port.errorString().toStdString();
    EXPECT_FALSE(port.open());
    EXPECT_FALSE(port.isOpen());
}

TEST(PtyLink, BytesWaitingBeforeTheOpenAreDropped) {
    RecordStore store;
    VirtualController controller{store};
    QString error;
    auto line = LineEndpoint::createPty(controller, &error);
    ASSERT_TRUE(line);
    line->send(VirtualController::replyFrame("01", "DC", "STALE"));
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    kt::shell::WriteIni(ini, "COMMUNICATION", "COM1", line->devicePath().toUtf8());
    LinePort port(ini);
    port.setPortNumber(1);
    port.setSettings("19200,e,8,1");
    ASSERT_TRUE(port.open());
    kt::link::EventLoopClock clock;
    kt::link::Delay(clock, 20);
    EXPECT_EQ(port.readAll(), "");
}

TEST(PtyLink, OpensADeviceThatAKilledProgramLeftConfigured) {
    PtyRig r;
    // What a program killed while holding the port leaves: its settings.
    const QByteArray device = QFile::encodeName(r.sim.line->devicePath());
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios left{};
    ASSERT_EQ(tcgetattr(fd, &left), 0);
    r.port.close();
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &left), 0);
    ::close(fd);

    EXPECT_TRUE(r.port.open()) << r.port.errorString().toStdString();
    EXPECT_TRUE(r.link.lsubTransaction("01DC").accepted());
}

} // namespace
