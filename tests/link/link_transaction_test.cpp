// The link transaction on the virtual clock against the in-process
// controller: retries, time spent, status shown, give-up.
#include "link/frame.h"
#include "link/link_transaction.h"
#include "sim/memory_port.h"
#include "support/recording_view.h"

#include <gtest/gtest.h>

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
        settings.sngTxDelay = 15;
        settings.sngRxDelay = 25;
        settings.sngRxTimeOut = 300;
        port.open();
        link.enable();
    }

    void fault(Fault kind, int count) {
        FaultPlan plan;
        plan.fault = kind;
        plan.count = count;
        plan.lateMs = 400; // after the try's time-out, before the next try's write
        controller.setFaultPlan(plan);
    }

    RecordStore store;
    VirtualController controller{store};
    VirtualClock clock;
    MemoryPort port{controller, clock};
    kt::shell::Settings settings;
    kt::test::RecordingView view;
    LinkTransaction link{port, clock, view, settings};
};

class LinkTransactionTest : public ::testing::Test, public Rig {};

TEST_F(LinkTransactionTest, AcceptedOnTheFirstTry) {
    const TxResult result = link.lsubTransaction(" 01DC");
    EXPECT_EQ(result.status, Status::Accepted);
    EXPECT_EQ(result.data, store.value("DC"));
    EXPECT_EQ(port.written(), QList<QByteArray>{kt::link::buildRequestFrame("01DC")});
    EXPECT_EQ(clock.nowMs(), 15 + 25);
    EXPECT_EQ(view.states, (QList<LinkState>{LinkState::Busy, LinkState::Ok}));
    EXPECT_EQ(view.activity, (QList<bool>{true, false}));
    EXPECT_EQ(view.echoes.last(), VirtualController::replyFrame("01", "DC", store.value("DC")));
    EXPECT_EQ(link.errorCount(), 0);
    EXPECT_TRUE(view.errorCounts.isEmpty());
}

TEST_F(LinkTransactionTest, RecoversFromRefusedRepliesByRetrying) {
    // An empty card slot: its reply's CRC (BEFF at 01HB2600) has letters, so
    // the lower-case fault changes it.
    const QByteArray request = "01HB2600";
    ASSERT_NE(kt::link::CRC16(VirtualController::replyFrame("01", "HB", "").left(6)).toLower(),
              kt::link::CRC16(VirtualController::replyFrame("01", "HB", "").left(6)));
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
        const TxResult result = link.lsubTransaction(request);
        EXPECT_EQ(result.status, Status::Accepted);
        EXPECT_EQ(result.data, "");
        EXPECT_EQ(link.errorCount() - before, c.failedTries);
        EXPECT_EQ(port.written().size() - writes, c.failedTries + 1);
        if (c.failedTries > 0) {
            EXPECT_EQ(view.errorCounts.last(), link.errorCount());
        }
        EXPECT_EQ(view.states.last(), LinkState::Ok);
        clock.waitUntil(clock.nowMs() + 1000, [] { return false; }); // let late output land
    }
}

TEST_F(LinkTransactionTest, GivesUpAfterElevenTries) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> arrange;
        double expectedMs;
        int frames;
    };
    const double t = 300, tx = 15, rx = 25;
    const Case cases[] = {
        {"silence", [](Rig& r) { r.fault(Fault::Silence, -1); }, 11 * (tx + rx + t) + 10 * t, 11},
        {"writes fail", [](Rig& r) { r.port.setWritesFail(true); }, 11 * tx + 10 * t, 0},
        {"port vanishes in the first wait",
         [](Rig& r) {
             r.fault(Fault::Silence, -1);
             r.clock.schedule(100, [&r] { r.port.vanish(); });
         },
         100 + 10 * (t + tx), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        c.arrange(r);
        EXPECT_EQ(r.link.lsubTransaction("01DC").status, Status::GaveUp);
        EXPECT_EQ(r.link.errorCount(), 11);
        EXPECT_EQ(r.view.errorCounts.last(), 11);
        EXPECT_EQ(r.view.states.last(), LinkState::Error);
        EXPECT_EQ(r.clock.nowMs(), c.expectedMs);
        EXPECT_EQ(r.port.written().size(), c.frames);
    }
}

TEST(LinkTransaction, ADisabledLinkOrAClosedPortSendsNothing) {
    const std::pair<std::function<void(Rig&)>, Status> cases[] = {
        {[](Rig& r) { r.link.disable(); }, Status::Cancelled},
        {[](Rig& r) { r.port.close(); }, Status::Failed},
    };
    for (const auto& [arrange, status] : cases) {
        SCOPED_TRACE(int(status));
        Rig r;
        arrange(r);
        const TxResult result = r.link.lsubTransaction("01DC");
        EXPECT_EQ(result.status, status);
        EXPECT_TRUE(result.data.isEmpty());
        EXPECT_TRUE(r.port.written().isEmpty());
        EXPECT_TRUE(r.view.states.isEmpty());
        EXPECT_EQ(r.clock.nowMs(), 0);
        EXPECT_EQ(r.link.errorCount(), 0);
    }
}

TEST(LinkTransaction, ACancelEndsTheTransactionAtOnceWithoutAVerdict) {
    struct Case {
        const char* name;
        double cancelAtMs;
        int frames;
        int failedTries;
    };
    // Tries of 15 + 25 + 300 ms on a silent line, pauses of 300 ms: the
    // eleventh try waits for its reply from 6440 ms on.
    const Case cases[] = {
        {"in the TX delay", 5, 0, 0},
        {"in the RX delay", 20, 1, 0},
        {"in the reply wait", 100, 1, 0},
        {"in the pause after a failed try", 400, 1, 1},
        {"in the last try's reply wait", 6500, 11, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.fault(Fault::Silence, -1);
        r.clock.schedule(c.cancelAtMs, [&r] { r.link.disable(); });
        EXPECT_EQ(r.link.lsubTransaction("01DC").status, Status::Cancelled);
        EXPECT_EQ(r.clock.nowMs(), c.cancelAtMs);
        EXPECT_EQ(r.port.written().size(), c.frames);
        EXPECT_EQ(r.link.errorCount(), c.failedTries);
        EXPECT_EQ(r.view.states.last(), LinkState::Idle);
        EXPECT_EQ(r.view.activity.last(), false);
    }
}

TEST_F(LinkTransactionTest, InputWaitingBeforeTheRequestIsDiscarded) {
    // A stale reply from this address would pass the check: the code is not compared.
    port.inject(VirtualController::replyFrame("01", "DI", "STALE"));
    EXPECT_EQ(link.lsubTransaction("01DC").data, store.value("DC"));
}

TEST_F(LinkTransactionTest, ChangedTimesApplyFromTheNextWait) {
    fault(Fault::Silence, 1);
    clock.schedule(50, [&] { settings.sngRxTimeOut = 500; }); // during the first wait
    EXPECT_TRUE(link.lsubTransaction("01DC").accepted());
    // First try: its wait keeps 300; the pause and the second try use 500.
    EXPECT_EQ(clock.nowMs(), (15 + 25 + 300) + 500 + (15 + 25));
}

} // namespace
