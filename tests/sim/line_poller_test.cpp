// The simulator's lines share one epoll set: each is called while it is
// ready, and never once it is forgotten, also by a line called before it
// in the same turn.
#include "sim/line_poller.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Pair {
    int ends[2] = {-1, -1};
    Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends), 0); }
    ~Pair() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    void send() const { EXPECT_EQ(::write(ends[1], "x", 1), 1); }
    void drain() const {
        char buffer[16];
        while (::read(ends[0], buffer, sizeof buffer) > 0) {
        }
    }
};

// Turns the event loop until `done`, or for at most a second.
template <typename Done> void turnUntil(Done done) {
    const QDeadlineTimer deadline(1000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(LinePoller, CallsEachReadyLineAndNoneItForgot) {
    const std::shared_ptr<kt::sim::LinePoller> poller = kt::sim::LinePoller::ofThisThread();
    EXPECT_EQ(kt::sim::LinePoller::ofThisThread(), poller) << "one poller a thread";
    Pair first, second, third;
    int firstCalls = 0, secondCalls = 0, thirdCalls = 0;
    std::uint64_t secondId = 0, thirdId = 0;
    // Whichever of the two lines comes first in a turn forgets the other.
    secondId = poller->watch(
        second.ends[0],
        [&] {
            ++secondCalls;
            second.drain();
            poller->forget(thirdId);
        },
        [] {});
    thirdId = poller->watch(
        third.ends[0],
        [&] {
            ++thirdCalls;
            third.drain();
            poller->forget(secondId);
        },
        [] {});
    const std::uint64_t firstId = poller->watch(
        first.ends[0],
        [&] {
            ++firstCalls;
            first.drain();
        },
        [] {});
    ASSERT_NE(firstId, 0u);
    second.send();
    third.send();
    first.send();
    turnUntil([&] { return firstCalls > 0; });
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls + thirdCalls, 1) << "a forgotten line was called in the same turn";

    // Forgotten, a ready line is never called again; the others still are.
    int& survivor = secondCalls == 1 ? secondCalls : thirdCalls;
    const int& forgotten = secondCalls == 1 ? thirdCalls : secondCalls;
    second.send();
    third.send();
    first.send();
    turnUntil([&] { return firstCalls > 1 && survivor > 1; });
    EXPECT_EQ(firstCalls, 2);
    EXPECT_EQ(survivor, 2);
    EXPECT_EQ(forgotten, 0);
    poller->forget(firstId);
}

TEST(LinePoller, CallsWritableOnlyWhileWritesAreWanted) {
    const std::shared_ptr<kt::sim::LinePoller> poller = kt::sim::LinePoller::ofThisThread();
    Pair line;
    int writable = 0;
    const std::uint64_t id = poller->watch(
        line.ends[1], [] {}, [&] { ++writable; });
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(writable, 0);
    poller->wantWrites(id, true);
    turnUntil([&] { return writable > 0; });
    EXPECT_GT(writable, 0);
    poller->wantWrites(id, false);
    const int before = writable;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(writable, before);
    poller->forget(id);
}

} // namespace
