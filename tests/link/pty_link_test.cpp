// The link over a real pseudo-terminal and the real clock, against the
// virtual controller.
#include "link/device_port.h"
#include "link/line_port.h"
#include "link/link_transaction.h"
#include "shell/ini_file.h"
#include "sim/pty_controller.h"
#include "support/open_port.h"
#include "support/recording_view.h"
#include "support/wait_for.h"

#include <QEventLoop>
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

// An open that cannot be made says why: a port number out of range, a
// device that is not there, settings that are no settings.
TEST(PtyLink, OpenErrorsSayWhatToDo) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    EXPECT_TRUE(kt::shell::WriteIni(ini, "COMMUNICATION", "COM3", "/dev/kt-no-such-device"));
    LinePort port(ini);
    EXPECT_FALSE(port.setPortNumber(9));
    EXPECT_TRUE(port.errorString().contains("COM1 to COM8"));
    ASSERT_TRUE(port.setPortNumber(3) && port.setSettings("19200,e,8,1"));
    EXPECT_FALSE(kt::test::openPort(port));
    EXPECT_TRUE(port.errorString().contains("/dev/kt-no-such-device (COM3) does not exist"))
        << port.errorString().toStdString();
    EXPECT_FALSE(port.isOpen());
    ASSERT_TRUE(port.setPortNumber(4));
    EXPECT_FALSE(port.setSettings("19200,x,8,1"));
    EXPECT_TRUE(port.errorString().contains("parity")) << port.errorString().toStdString();
    EXPECT_FALSE(kt::test::openPort(port) || port.isOpen());
}

// What a program killed while holding the port leaves: its settings, and a
// reply that nobody read. The open drops the reply.
TEST(PtyLink, OpensADeviceThatAKilledProgramLeftConfiguredWithoutItsBytes) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("Language.ini");
    PtyController sim(100);
    ASSERT_TRUE(sim.mapPort(ini)) << sim.error.toStdString();
    LinePort port(ini);
    ASSERT_TRUE(port.setPortNumber(1) && port.setSettings("19200,e,8,1") &&
                kt::test::openPort(port));
    const int fd = ::open(QFile::encodeName(sim.line->devicePath()).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios left{};
    ASSERT_EQ(tcgetattr(fd, &left), 0);
    port.close();
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &left), 0);
    ::close(fd);
    sim.line->send(VirtualController::replyFrame("01", "DC", "STALE"));

    EXPECT_TRUE(kt::test::openPort(port)) << port.errorString().toStdString();
    kt::link::EventLoopClock clock;
    QEventLoop loop;
    clock.callAt(clock.nowMs() + 20, [&] { loop.quit(); });
    loop.exec();
    EXPECT_EQ(port.readAll(), "");
    const kt::link::LineTimes times;
    kt::test::RecordingView view;
    LinkTransaction link(port, clock, view, times);
    bool accepted = false;
    const auto request = link.lsubTransaction("01DC", [&](const kt::link::TxResult& result) {
        accepted = result.accepted();
        loop.quit();
    });
    loop.exec();
    EXPECT_TRUE(accepted);
}

// A device opens at a speed it takes, and is one program's at a time, also
// for the same user, until it is closed. A port that does not watch lets
// bytes wait without a word, and still hands them over when asked.
TEST(PtyLink, ADeviceIsOneHoldersAndWaitsUnwatched) {
    PtyController sim(0);
    ASSERT_TRUE(sim.line) << sim.error.toStdString();
    const auto portOn = [&](kt::link::DevicePort& port) {
        port.setDevice(sim.line->devicePath(), sim.line->devicePath());
        return port.setSettings("19200,e,8,1") && port.open();
    };
    kt::link::DevicePort first;
    kt::link::DevicePort second;
    first.setDevice(sim.line->devicePath(), sim.line->devicePath());
    ASSERT_TRUE(first.setSettings("12345,e,8,1"));
    EXPECT_FALSE(first.open());
    EXPECT_TRUE(first.errorString().contains("does not take the speed 12345 baud"))
        << first.errorString().toStdString();
    ASSERT_TRUE(portOn(first)) << first.errorString().toStdString();
    EXPECT_FALSE(portOn(second));
    EXPECT_EQ(second.openError(), kt::link::SerialPort::OpenError::Busy);
    EXPECT_TRUE(second.errorString().contains("is busy")) << second.errorString().toStdString();

    int arrivals = 0;
    QObject::connect(&first, &kt::link::SerialPort::arrived, [&] { ++arrivals; });
    // Unwatched, the bytes are taken when asked for, however long they take
    // to come, and the event loop hears nothing of them meanwhile.
    first.setWatching(false);
    sim.line->send("held\r");
    QByteArray held;
    EXPECT_TRUE(kt::test::waitFor([&] { return (held += first.readAll()) == "held\r"; }, 5000));
    EXPECT_EQ(arrivals, 0);
    first.setWatching(true);
    sim.line->send("told\r");
    EXPECT_TRUE(kt::test::waitFor([&] { return arrivals > 0; }, 5000));
    EXPECT_EQ(first.readAll(), "told\r");

    first.close();
    EXPECT_TRUE(portOn(second)) << second.errorString().toStdString();
}

// A chain of calls, each due at once, gives the event loop a turn between
// its links: what was posted meanwhile (input, a signal) does not wait for
// the chain's end.
TEST(PtyLink, RealClockLetsTheLoopRunBetweenCallsDueAtOnce) {
    kt::link::EventLoopClock clock;
    QEventLoop loop;
    constexpr int kLinks = 100;
    int made = 0;
    int madeWhenPostedRan = -1;
    std::function<void()> next = [&] {
        if (++made == 1)
            QMetaObject::invokeMethod(
                &loop, [&] { madeWhenPostedRan = made; }, Qt::QueuedConnection);
        if (made == kLinks)
            return loop.quit();
        clock.callAt(clock.nowMs(), next);
    };
    clock.callAt(clock.nowMs(), next);
    loop.exec();
    EXPECT_EQ(made, kLinks);
    EXPECT_GE(madeWhenPostedRan, 1);
    EXPECT_LT(madeWhenPostedRan, 10);
}

// The real clock makes each call at its deadline, never before, in order,
// also calls asked for inside a call, and once it has learnt how late its timer wakes; a dropped
// call never comes, and one due at once is not made inside callAt().
TEST(PtyLink, RealClockCallsComeAtTheirDeadlinesInOrder) {
    kt::link::EventLoopClock clock;
    QEventLoop loop;
    QList<int> order;
    int early = 0;
    const auto at = [&](double deadline, int name) {
        return clock.callAt(deadline, [&, deadline, name] {
            early += clock.nowMs() < deadline;
            order.append(name);
        });
    };
    const double start = clock.nowMs();
    at(start + 30, 3);
    const auto dropped = at(start + 10, 99);
    at(start + 20, 2);
    clock.callAt(start + 5, [&] {
        order.append(1);
        at(start + 15, 11); // asked for inside a call: due between 1 and 2
    });
    at(start, 0);
    EXPECT_TRUE(order.isEmpty()); // due at once, but not from inside callAt()
    clock.cancelCall(dropped);
    clock.callAt(start + 40, [&] { loop.quit(); });
    loop.exec();
    EXPECT_EQ(order, (QList<int>{0, 1, 11, 2, 3}));

    // The timer learns to go off early; a call still never comes early.
    int left = 400;
    std::function<void()> next = [&] {
        if (--left == 0)
            return loop.quit();
        const double deadline = clock.nowMs() + 0.5;
        clock.callAt(deadline, [&, deadline] {
            early += clock.nowMs() < deadline;
            next();
        });
    };
    next();
    loop.exec();
    EXPECT_EQ(early, 0);
}

} // namespace
