// The link over a real pseudo-terminal, through QSerialPort and the real
// clock, against the virtual controller: open errors, a device left
// configured, with bytes unread, by a killed program, and the real clock's
// waits.
#include "link/line_port.h"
#include "link/link_transaction.h"
#include "shell/ini_file.h"
#include "sim/pty_controller.h"
#include "support/recording_view.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

using kt::link::LinePort;
using kt::link::LinkTransaction;
using namespace kt::sim;

TEST(PtyLink, OpenErrorsSayWhatToDo) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "/dev/kt-no-such-device"));
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

// What a program killed while holding the port leaves: its settings, and a
// reply that nobody read. The open drops the reply.
TEST(PtyLink, OpensADeviceThatAKilledProgramLeftConfiguredWithoutItsBytes) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    PtyController sim(100);
    ASSERT_TRUE(sim.mapPort(ini)) << sim.error.toStdString();
    LinePort port(ini);
    ASSERT_TRUE(port.setPortNumber(1) && port.setSettings("19200,e,8,1") && port.open());
    const QByteArray device = QFile::encodeName(sim.line->devicePath());
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios left{};
    ASSERT_EQ(tcgetattr(fd, &left), 0);
    port.close();
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &left), 0);
    ::close(fd);
    sim.line->send(VirtualController::replyFrame("01", "DC", "STALE"));

    EXPECT_TRUE(port.open()) << port.errorString().toStdString();
    kt::link::EventLoopClock clock;
    kt::link::Delay(clock, 20);
    EXPECT_EQ(port.readAll(), "");
    const kt::shell::Settings settings;
    kt::test::RecordingView view;
    LinkTransaction link(port, clock, view, settings);
    link.enable();
    EXPECT_TRUE(link.lsubTransaction("01DC").accepted());
}

// A wait ends at its deadline, never before, also once the clock has
// learnt how late its timer wakes, and also when a wait nested in an event
// of its own (a click that waits) moved the clock's timer; an event that
// makes it ready ends it early.
TEST(PtyLink, RealClockWaitsEndAtTheirOwnDeadline) {
    kt::link::EventLoopClock clock;
    bool inner = false;
    QTimer::singleShot(2, [&] {
        inner = true;
        clock.waitUntil(clock.nowMs() + 40, [] { return false; }); // beyond the outer one
    });
    const double outer = clock.nowMs() + 20;
    EXPECT_FALSE(clock.waitUntil(outer, [] { return false; }));
    EXPECT_TRUE(inner);
    EXPECT_GE(clock.nowMs(), outer);

    const double start = clock.nowMs();
    double innerEnd = 0;
    QTimer::singleShot(2, [&] { // a nested wait that ends first
        clock.waitUntil(clock.nowMs() + 3, [] { return false; });
        innerEnd = clock.nowMs();
    });
    EXPECT_FALSE(clock.waitUntil(start + 200, [] { return false; }));
    EXPECT_GE(clock.nowMs(), start + 200);
    EXPECT_LT(innerEnd, start + 200); // at its own deadline, not the outer one

    // The timer learns to go off early; the wait still never ends early.
    int early = 0;
    for (int i = 0; i < 400; ++i) {
        const double deadline = clock.nowMs() + 0.5;
        clock.waitUntil(deadline, [] { return false; });
        early += clock.nowMs() < deadline;
    }
    EXPECT_EQ(early, 0);

    bool ready = false;
    QTimer::singleShot(1, [&] { ready = true; });
    EXPECT_TRUE(clock.waitUntil(clock.nowMs() + 60000, [&] { return ready; }));
}

} // namespace
