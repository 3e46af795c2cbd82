#include "MorvandFixture.h"

namespace {

using ProtocolThreadTest = MorvandTest;

TEST_F(ProtocolThreadTest, HeartbeatExpiresAfter3000msButNotBefore) {
    ASSERT_TRUE(_MORVANDProtocolCreate(1));
    const struct {
        uint64_t elapsed;  // 100 ns units since the last heartbeat
        bool lateHeartbeat;  // the next one comes while the supervision looks at the deadline
        bool present;
    } cases[] = {{29'000'000, false, true},
                 {30'000'000, false, true},
                 {30'000'001, false, false},
                 {31'000'000, false, false},
                 {31'000'000, true, true}};
    for (const auto& c : cases) {
        const uint64_t start = clock.SystemTime();
        Receive({Frame(0x700 + 40, {5})});
        TProtocol::TakeNodeChanged(127);
        clock.SetSystemTime(start + c.elapsed);
        if (c.lateHeartbeat) clock.AtNextRead([] { Receive({Frame(0x700 + 40, {5})}); });
        Instance().CheckHeartbeats();
        SCOPED_TRACE(c.lateHeartbeat ? "late heartbeat" : "");
        EXPECT_EQ(TProtocol::IsNodeAlive(40), c.present) << c.elapsed;
        EXPECT_EQ(TProtocol::IsNodeOperational(40), c.present) << c.elapsed;
        EXPECT_EQ(TProtocol::TakeNodeChanged(127), c.present ? 0 : 0x80) << c.elapsed;
    }
}

TEST_F(ProtocolThreadTest, HeartbeatsEvery2900msKeepANodeAndSilentNodesAreNotReported) {
    ASSERT_TRUE(_MORVANDProtocolCreate(1));
    for (int i = 0; i < 5; ++i) {
        Receive({Frame(0x700 + 40, {127})});
        clock.Advance(2900);
        Instance().CheckHeartbeats();
        ASSERT_TRUE(TProtocol::IsNodeAlive(40));
    }
    TProtocol::TakeNodeChanged(127);
    clock.Advance(200);
    Instance().CheckHeartbeats();
    EXPECT_FALSE(TProtocol::IsNodeAlive(40));
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0x80);
    Instance().CheckHeartbeats();
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0) << "an absent node is skipped";
}

TEST_F(ProtocolThreadTest, ANewInstanceDropsANodeStillMarkedPresentUntilItsHeartbeatComes) {
    TProtocol::SetNodeAlive(60, true);
    ASSERT_TRUE(_MORVANDProtocolCreate(1));
    Instance().CheckHeartbeats();
    EXPECT_TRUE(TProtocol::IsNodeAlive(60)) << "deadline = creation time, not yet passed";
    clock.Advance(1);
    Instance().CheckHeartbeats();
    EXPECT_FALSE(TProtocol::IsNodeAlive(60));
}

TEST_F(ProtocolThreadTest, DeadlineRule) {
    std::atomic<uint64_t> deadline{0};
    TProtocol::SetDeadline(deadline, 0);
    EXPECT_FALSE(TProtocol::DeadlinePassed(deadline));
    clock.SetSystemTime(clock.SystemTime() + 1);
    EXPECT_TRUE(TProtocol::DeadlinePassed(deadline));
    TProtocol::SetDeadline(deadline, 1500);
    EXPECT_EQ(deadline.load(), clock.SystemTime() + 15'000'000);
    TProtocol::SetDeadline(deadline, -1);
    EXPECT_EQ(deadline.load(), clock.SystemTime() - 10'000);
}

TEST_F(ProtocolThreadTest, RestsUntilTheFirstHeartbeatExpiryOrAMillisecondWhileWorkIsUnderWay) {
    struct Case {
        const char* what;
        int64_t deadlineMs;  // of present node 40; INT64_MIN: not present
        uint8_t target, sdoNode;
        uint32_t rest;
    };
    const Case cases[] = {
        {"nobody present", INT64_MIN, 0, 0, TProtocol::MaxRestMs},
        {"expiry in 50 ms", 50, 0, 0, 51},
        {"expiry far ahead", 3000, 0, 0, TProtocol::MaxRestMs},
        {"expiry due", -1, 0, 0, 1},
        {"command pending", 3000, 40, 0, 1},
        {"exchange open", 3000, 0, 40, 1},
    };
    ASSERT_TRUE(_MORVANDProtocolCreate(1));
    for (const Case& c : cases) {
        TProtocol::SetNodeAlive(40, c.deadlineMs != INT64_MIN);
        if (c.deadlineMs != INT64_MIN) TProtocol::SetDeadline(Instance().HeartbeatDeadline[40], int32_t(c.deadlineMs));
        CommandBlock.Target.store(c.target);
        SdoTransactionNode.store(c.sdoNode);
        EXPECT_EQ(Instance().RestMs(), c.rest) << c.what;
    }
    CommandBlock.Target.store(0);
    SdoTransactionNode.store(0);
}

TEST_F(ProtocolThreadTest, SuspendsOnRequestAndSupervisesNothingWhileSuspended) {
    ASSERT_TRUE(_MORVANDProtocolCreate(1));
    ASSERT_TRUE(_MORVANDProtocolBegin());
    Receive({Frame(0x700 + 40, {5})});
    ASSERT_TRUE(_MORVANDProtocolSuspend());
    ASSERT_TRUE(Eventually([] { return Instance().IsIdle(); }));
    EXPECT_TRUE(Logged("TProtocol:Suspend"));
    EXPECT_FALSE(_MORVANDProtocolSuspend()) << "already suspended";
    clock.Advance(5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(TProtocol::IsNodeAlive(40)) << "no expiry while suspended";
    ASSERT_TRUE(_MORVANDProtocolBegin());
    EXPECT_TRUE(Eventually([] { return !TProtocol::IsNodeAlive(40); }));
}

TEST_F(ProtocolThreadTest, ResetRequestZeroesTheStatisticsOnce) {
    ASSERT_TRUE(_MORVANDProtocolCreate(1));
    TDLLStat* stat = _MORVANDGetDLLStatPtr();
    ASSERT_EQ(stat, &Instance().Stat);
    stat->Counter[80] = 5;
    _MORVANDResetDLLStat();
    ASSERT_TRUE(_MORVANDProtocolBegin());
    ASSERT_TRUE(Eventually([] { return Logged("Reset stat"); }));
    EXPECT_EQ(stat->Counter[80], 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Reset stat"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "MORVANDResetDLLStat"), 1);
}

// A caller reads the record through its pointer while the protocol thread resets it: the TSan build
// reports a reset that writes over the zeros being read.
TEST_F(ProtocolThreadTest, ReadingTheStatisticsWhileAResetRunsIsNoRace) {
    ASSERT_TRUE(_MORVANDProtocolCreate(1));
    ASSERT_TRUE(_MORVANDProtocolBegin());
    const TDLLStat* stat = _MORVANDGetDLLStatPtr();
    for (int round = 0; round < 3; ++round) {
        ClearLog();
        _MORVANDResetDLLStat();
        ASSERT_TRUE(Eventually([&] {
            for (int i = 0; i < 81; ++i) EXPECT_EQ(stat->Counter[i], 0u);
            return Logged("Reset stat");
        }));
    }
}

TEST_F(ProtocolThreadTest, SuspendRequestedJustBeforeEndNeverHangsTheCaller) {
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(_MORVANDProtocolCreate(1));
        ASSERT_TRUE(_MORVANDProtocolBegin());
        if (i % 3) std::this_thread::sleep_for(std::chrono::microseconds(300 * i));
        _MORVANDProtocolSuspend();
        EXPECT_TRUE(_MORVANDProtocolEnd());
        EXPECT_TRUE(_MORVANDProtocolDestroy());
    }
    std::lock_guard g(BoardLock());
    EXPECT_EQ(Board().Count("CancelBoard"), 30);
}

struct BusyCase {
    const char* state;
    std::function<void()> reach;
    bool busy;
};

TEST_F(ProtocolThreadTest, BusyTruthTable) {
    const BusyCase cases[] = {
        {"no instance", [] {}, true},
        {"created, never started", [] { _MORVANDProtocolCreate(1); }, false},
        {"running", [] { _MORVANDProtocolCreate(1), _MORVANDProtocolBegin(); }, true},
        {"suspended on request",
         [] {
             _MORVANDProtocolCreate(1), _MORVANDProtocolBegin(), _MORVANDProtocolSuspend();
             Eventually([] { return Logged("TProtocol:Suspend"); });
         },
         false},
        {"ended", [] { _MORVANDProtocolCreate(1), _MORVANDProtocolBegin(), _MORVANDProtocolEnd(); }, true},
    };
    for (const auto& c : cases) {
        ClearLog();
        c.reach();
        EXPECT_EQ(_MORVANDIsProtocolBusy(), c.busy) << c.state;
        _DestroyCANThread();
    }
}

TEST_F(ProtocolThreadTest, DestroyingANeverStartedOrSuspendedInstanceCancelsItsBoardOnce) {
    for (bool started : {false, true}) {
        ResetBoard();
        ClearLog();
        ASSERT_TRUE(_MORVANDProtocolCreate(1));
        if (started) {
            _MORVANDProtocolBegin();
            _MORVANDProtocolSuspend();
            ASSERT_TRUE(Eventually([] { return Instance().IsIdle(); }));
            EXPECT_TRUE(_MORVANDProtocolEnd()) << "a suspended thread stays";
            EXPECT_NE(Protocol.load(), nullptr);
        }
        ASSERT_TRUE(_MORVANDProtocolDestroy());
        EXPECT_EQ(Protocol.load(), nullptr);
        EXPECT_EQ(ChangeFlagLock.load(), nullptr);
        std::lock_guard g(BoardLock());
        EXPECT_EQ(Board().Count("CancelBoard"), 1) << "started " << started;
        const auto lines = LogLines();
        const auto terminate = std::find(lines.begin(), lines.end(), "TProtocol:Protocol on terminate");
        const auto destroyed = std::find(lines.begin(), lines.end(), "MORVAND Protocol Destroyed");
        EXPECT_LT(terminate, destroyed) << "started " << started;
    }
}

}  // namespace
