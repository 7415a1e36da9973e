// The link's requests on the virtual clock against the in-process
// controller: retries, time spent, status shown, give-up, cancel.
#include "link/frame.h"
#include "link/link_transaction.h"
#include "sim/memory_port.h"
#include "support/recording_view.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

using kt::link::LinkState;
using kt::link::LinkTransaction;
using kt::link::TxResult;
using Status = kt::link::TxResult::Status;
using namespace kt::sim;

// The link with the in-process controller on a virtual clock.
struct Rig {
    Rig() {
        store.seed(100);
        port.open();
    }

    // Sends a request and runs the clock until it has reported.
    TxResult transact(const QByteArray& requestText) {
        std::optional<TxResult> result;
        request = link.lsubTransaction(requestText, [&](const TxResult& r) {
            EXPECT_FALSE(result) << "reported twice";
            result = r;
        });
        clock.run([&] { return result.has_value(); });
        EXPECT_TRUE(result) << "never reported";
        return result.value_or(TxResult{});
    }

    // A late reply comes after the try's time-out, before the next try's write.
    void fault(Fault kind, int count) {
        controller.setFaultPlan({.fault = kind, .count = count, .lateMs = 400});
    }

    RecordStore store;
    VirtualController controller{store};
    VirtualClock clock;
    MemoryPort port{controller, clock};
    kt::link::LineTimes times{.txDelayMs = 15, .rxDelayMs = 25, .rxTimeOutMs = 300};
    kt::test::RecordingView view;
    LinkTransaction link{port, clock, view, times};
    std::shared_ptr<kt::link::LinkRequest> request;
};

class LinkTransactionTest : public ::testing::Test, public Rig {};

// In step, the quiet after the reply is the next request's TX delay: one
// frame, and the report once the line stayed quiet that long.
TEST_F(LinkTransactionTest, AcceptedOnTheFirstTry) {
    int told = 0;
    QObject::connect(&port, &kt::link::SerialPort::arrived, [&] { ++told; });
    const TxResult result = transact(" 01DC");
    // The reply came during the RX delay without a word: the link took it
    // when it was due.
    EXPECT_EQ(told, 0);
    EXPECT_EQ(result.status, Status::Accepted);
    EXPECT_EQ(result.data, store.value("DC"));
    EXPECT_EQ(port.written(), QList<QByteArray>{kt::link::buildRequestFrame("01DC")});
    EXPECT_EQ(clock.nowMs(), 15 + 25 + 15);
    EXPECT_EQ(view.states, (QList<LinkState>{LinkState::Busy, LinkState::Ok}));
    EXPECT_EQ(view.activity, (QList<bool>{true, false}));
    EXPECT_EQ(view.echoes.last(), VirtualController::replyFrame("01", "DC", store.value("DC")));
    EXPECT_EQ(link.errorCount(), 0);
    EXPECT_TRUE(view.errorCounts.isEmpty());
    // The next request goes out at once: its TX delay has passed.
    EXPECT_TRUE(transact("01DI").accepted());
    EXPECT_EQ(clock.nowMs(), 55 + 25 + 15);
}

// A reply waiting before a request answers an earlier frame (a stray one,
// or a cancelled request's): the line is let go quiet for a time-out, the
// request is sent, and its reply is followed by the same quiet and a probe
// with another code. Nothing of the earlier request reaches this one.
TEST(LinkTransaction, ALineOutOfStepIsLetGoQuietAndProbed) {
    for (const bool cancelled : {false, true}) {
        SCOPED_TRACE(cancelled ? "a cancelled request" : "a stray reply");
        Rig r;
        int firstReports = 0;
        double quietFrom = 15; // the TX delay, then the reply is found waiting
        if (cancelled) {
            r.request = r.link.lsubTransaction("01DC", [&](const TxResult&) { ++firstReports; });
            r.clock.runUntil(15 + 20); // written at 15; its reply waits in the port
            r.request->cancel();
            quietFrom = 35;
        } else {
            r.port.inject(VirtualController::replyFrame("01", "DC", "STALE"));
        }
        const qsizetype before = r.port.written().size();
        const TxResult result = r.transact("01DI");
        EXPECT_EQ(firstReports, int(cancelled));
        EXPECT_EQ(result.status, Status::Accepted);
        EXPECT_EQ(result.data, r.store.value("DI"));
        EXPECT_EQ(r.port.written().mid(before),
                  (QList<QByteArray>{kt::link::buildRequestFrame("01DI"),
                                     kt::link::buildRequestFrame("01DC")}));
        // Quiet, TX and RX delays, quiet, the probe's RX delay, quiet.
        const double end = quietFrom + 300 + 15 + 25 + 300 + 25 + 300;
        EXPECT_EQ(r.clock.nowMs(), end);
        r.clock.run(); // nothing of the earlier request is left to happen
        EXPECT_EQ(r.clock.nowMs(), end);
        EXPECT_EQ(r.link.errorCount(), 0);
    }
}

TEST_F(LinkTransactionTest, RecoversFromRefusedRepliesByRetrying) {
    // An empty card slot: its reply's CRC (BEFF at 01HB2600) has letters, so
    // the lower-case fault changes it.
    const QByteArray request = "01HB2600";
    struct Case {
        Fault fault;
        int count;
        int failedTries;
    };
    const Case cases[] = {
        {Fault::WrongCrc, 3, 3},    {Fault::LowerCaseCrc, 3, 3}, {Fault::WrongAddress, 3, 3},
        {Fault::SoInReply, 3, 3},   {Fault::Silence, 3, 3},      {Fault::FloodWithoutCr, 3, 3},
        {Fault::LateReply, 1, 1},   {Fault::Silence, 10, 10},    {Fault::GarbageBeforeEtx, -1, 0},
        {Fault::SplitReply, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.fault));
        fault(c.fault, c.count);
        const int before = link.errorCount();
        const qsizetype writes = port.written().size();
        const TxResult result = transact(request);
        EXPECT_EQ(result.status, Status::Accepted);
        EXPECT_EQ(result.data, "");
        EXPECT_EQ(link.errorCount() - before, c.failedTries);
        // After a failed try the accepted reply is confirmed by a probe.
        EXPECT_EQ(port.written().size() - writes, c.failedTries + 1 + (c.failedTries > 0));
        if (c.failedTries > 0) {
            EXPECT_EQ(port.written().last(), kt::link::buildRequestFrame("01DC"));
        }
        if (c.failedTries > 0) {
            EXPECT_EQ(view.errorCounts.last(), link.errorCount());
        }
        EXPECT_EQ(view.states.last(), LinkState::Ok);
        clock.runUntil(clock.nowMs() + 1000); // let late output land
    }
}

// Without an accepted reply the link gives up after eleven tries: on a
// silent line (not heard), a garbled one (heard: the two send a technician
// to different places), when writes fail. A port that vanishes or is closed
// ends it at once: no try could reach. A cancel ends it at once without a
// verdict. Tries take 15 + 25 + 300 ms on a silent line, quiets 300 ms: the
// eleventh try waits for its reply from 6440 ms on.
TEST(LinkTransaction, GivesUpAfterElevenTriesOrEndsAtOnceOnACancel) {
    enum class Line { Silent, Garbled, WritesFail, Vanishes, Closed };
    struct Case {
        const char* name;
        Line line;
        bool cancel; // at `ms`
        double ms;
        int frames;
        int failedTries;
    };
    const double t = 300, tx = 15, rx = 25;
    const Case cases[] = {
        {"silence", Line::Silent, false, 11 * (tx + rx + t) + 10 * t, 11, 11},
        // Replies that all fail their checks are a garbled line, not a
        // silent controller: the two send a technician to different places.
        {"wrong CRC every time", Line::Garbled, false, 11 * (tx + rx) + 10 * t, 11, 11},
        {"a closed port", Line::Closed, false, 0, 0, 0},
        {"writes fail", Line::WritesFail, false, 11 * tx + 10 * t, 0, 11},
        {"port vanishes in the first wait", Line::Vanishes, false, 100, 1, 1},
        {"cancel in the TX delay", Line::Silent, true, 5, 0, 0},
        {"cancel in the RX delay", Line::Silent, true, 20, 1, 0},
        {"cancel in the reply wait", Line::Silent, true, 100, 1, 0},
        {"cancel in the pause after a failed try", Line::Silent, true, 400, 1, 1},
        {"cancel in the last try's reply wait", Line::Silent, true, 6500, 11, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.fault(c.line == Line::Garbled ? Fault::WrongCrc : Fault::Silence, -1);
        r.port.setWritesFail(c.line == Line::WritesFail);
        if (c.line == Line::Vanishes)
            r.clock.callAt(100, [&r] { r.port.vanish(); });
        if (c.line == Line::Closed)
            r.port.close();
        if (c.cancel)
            r.clock.callAt(c.ms, [&r] { r.request->cancel(); });
        const bool lost = c.line == Line::Vanishes || c.line == Line::Closed;
        const TxResult result = r.transact("01DC");
        EXPECT_EQ(result.status, c.cancel ? Status::Cancelled
                                 : lost   ? Status::PortLost
                                          : Status::GaveUp);
        EXPECT_EQ(result.heard, c.line == Line::Garbled);
        EXPECT_EQ(r.clock.nowMs(), c.ms);
        EXPECT_EQ(r.port.written().size(), c.frames);
        EXPECT_EQ(r.link.errorCount(), c.failedTries);
        if (c.failedTries > 0) {
            EXPECT_EQ(r.view.errorCounts.last(), c.failedTries);
        }
        if (c.line == Line::Closed) {
            EXPECT_TRUE(r.view.states.isEmpty()); // nothing was tried
            continue;
        }
        EXPECT_EQ(r.view.states.last(), c.cancel ? LinkState::Idle : LinkState::Error);
        EXPECT_EQ(r.view.activity.last(), false);
    }
}

TEST_F(LinkTransactionTest, ChangedTimesApplyFromTheNextWait) {
    fault(Fault::Silence, 1);
    clock.callAt(50, [&] { // during the first wait
        times.rxTimeOutMs = 500;
        link.setTimes(times);
    });
    EXPECT_TRUE(transact("01DC").accepted());
    // First try: its wait keeps 300; the quiets and the second try use 500.
    EXPECT_EQ(clock.nowMs(), (15 + 25 + 300) + 500 + (15 + 25) + 500 + 25 + 500);
}

// Replies that answer other requests while the line was believed in step
// cast doubt on the replies accepted before: the request ends OutOfOrder.
// Noise is only a failed try; a confirm judges what comes after the last
// reply.
TEST(LinkTransaction, RepliesOutOfOrderAreNeverTaken) {
    const QByteArray owed = VirtualController::replyFrame("01", "HB", "OLDCARD");
    enum class Next { Card, SilentSystem, Confirm };
    struct Case {
        const char* name;
        Next next;
        QByteArray injected; // 10 ms after the next step began
        Status status;
        int failedTries;
    };
    const Case cases[] = {
        {"nothing more", Next::Card, "", Status::Accepted, 0},
        {"noise after the reply", Next::Card, "\x7F\xFF", Status::Accepted, 1},
        {"another reply after the reply", Next::Card, owed, Status::OutOfOrder, 1},
        {"a reply to another command", Next::SilentSystem, owed, Status::OutOfOrder, 1},
        {"a confirm on a quiet line", Next::Confirm, "", Status::Accepted, 0},
        {"a confirm that hears a reply", Next::Confirm, owed, Status::OutOfOrder, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.times.rxDelayMs = 5; // the next card's reply is taken before the injection
        r.link.setTimes(r.times);
        ASSERT_TRUE(r.transact("01HB0001").accepted());
        if (c.next == Next::SilentSystem)
            r.fault(Fault::Silence, 1);
        if (!c.injected.isEmpty())
            r.clock.callAt(r.clock.nowMs() + 10, [&] { r.port.inject(c.injected); });
        std::optional<TxResult> result;
        const auto done = [&](const TxResult& got) { result = got; };
        r.request = c.next == Next::Confirm        ? r.link.lsubConfirm("01", done)
                    : c.next == Next::SilentSystem ? r.link.lsubTransaction("01DC", done)
                                                   : r.link.lsubTransaction("01HB0002", done);
        r.clock.run([&] { return result.has_value(); });
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status);
        if (result->accepted() && c.next == Next::Card) {
            EXPECT_EQ(result->data, r.store.value("HA0002"));
        }
        EXPECT_EQ(r.link.errorCount(), c.failedTries);
    }
}

// A request reports from a call of the clock, never from inside the call
// that replaced or cancelled it; a report that starts a request there
// starts one that runs and reports in turn.
TEST(LinkTransaction, ReportsComeFromTheClockNeverFromInsideACall) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced by another request" : "cancelled");
        Rig r;
        QStringList reports;
        std::shared_ptr<kt::link::LinkRequest> fromReport;
        const auto note = [&](const char* name) {
            return [&reports, name](const TxResult& result) {
                reports.append(QString("%1 %2").arg(name).arg(int(result.status)));
            };
        };
        const auto first = r.link.lsubTransaction("01DC", [&](const TxResult& result) {
            note("first")(result);
            fromReport = r.link.lsubTransaction("01DI", note("from its report"));
        });
        r.clock.runUntil(5);
        if (replace)
            r.request = r.link.lsubTransaction("01HB0001", note("second"));
        else
            first->cancel();
        EXPECT_TRUE(reports.isEmpty());
        r.clock.run();
        const QString cancelled = QString::number(int(Status::Cancelled));
        const QString accepted = QString::number(int(Status::Accepted));
        QStringList expected{"first " + cancelled};
        if (replace)
            expected.append("second " + cancelled); // the first's report replaced it
        expected.append("from its report " + accepted);
        EXPECT_EQ(reports, expected);
    }
}

// A reply that reached the port by its deadline counts in time, also when
// the event loop delivers it right behind the deadline's call.
TEST_F(LinkTransactionTest, AReplyArrivedByTheDeadlineCountsInTime) {
    fault(Fault::Silence, 1);
    const double deadline = 15 + 25 + 300;
    clock.callAt(41, [&] {
        clock.callAt(deadline, [&] {
            port.inject(VirtualController::replyFrame("01", "DC", store.value("DC")));
        });
    });
    const TxResult result = transact("01DC");
    EXPECT_EQ(result.status, Status::Accepted);
    EXPECT_EQ(result.data, store.value("DC"));
    EXPECT_EQ(link.errorCount(), 0);
    EXPECT_EQ(port.written().size(), 1);
}

} // namespace
