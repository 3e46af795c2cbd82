// The board calls over the simulated network.
#include <cstddef>

#include "board/Backend.h"
#include "board/BoardFixture.h"
#include "sim/SimFixture.h"

namespace {

using namespace boardtest;
using sim::Frame;
using sim::kMs;

const Frame kEight(0x123, {1, 2, 3, 4, 5, 6, 7, 8});

TEST(BoardLayout, ReceivedObjectIs18PackedBytes) {
    EXPECT_EQ(sizeof(VCI_CAN_OBJ), 18u);
    EXPECT_EQ(offsetof(VCI_CAN_OBJ, id), 4u);
    EXPECT_EQ(offsetof(VCI_CAN_OBJ, len), 8u);
    EXPECT_EQ(offsetof(VCI_CAN_OBJ, data), 9u);
    EXPECT_EQ(offsetof(VCI_CAN_OBJ, status), 17u);
}

TEST_F(BoardTest, BoardsTheLibraryRefuses) {
    struct Case {
        uint32_t type;
        uint16_t number;
    } cases[] = {{VCI_BOARD_SIMULATED, 3}, {0, 0}, {9, 0}, {VCI_BOARD_SOCKETCAN, 7}};
    for (const auto& c : cases) {
        EXPECT_LT(VCI2_PrepareBoard(c.type, c.number, nullptr, 0, OnMessage, OnReceive, nullptr), 0) << c.type;
    }
    EXPECT_EQ(received.messages.size(), std::size(cases));  // each refusal says why
    // Cancelling what was never prepared does no harm.
    for (uint16_t handle : {0, 3, 0xFFFF}) EXPECT_LT(VCI_CancelBoard(handle), 0);
}

TEST_F(BoardTest, OneBoardPerSimulatedNetwork) {
    Start();
    EXPECT_LT(VCI2_PrepareBoard(VCI_BOARD_SIMULATED, 0, nullptr, 0, OnMessage, OnReceive, nullptr), 0);
    EXPECT_EQ(VCI_CancelBoard(uint16_t(board)), 1);
    EXPECT_LT(VCI_CancelBoard(uint16_t(board)), 0);
    board = -1;
    Start();  // the network carries on for the next board
}

TEST_F(BoardTest, CancellingABoardThatNeverStartedLeavesTheRunningOne) {
    const int32_t idle = VCI2_PrepareBoard(VCI_BOARD_SIMULATED, 0, nullptr, 0, OnMessage, OnReceive, nullptr);
    ASSERT_GE(idle, 0);
    Start();
    EXPECT_EQ(VCI_CancelBoard(uint16_t(idle)), 1);
    net->Inject(kEight);
    net->Advance(10 * kMs);
    EXPECT_EQ(received.Count(), 1u);
}

TEST_F(BoardTest, TimingBytesSetTheBitRate) {
    Start(true);
    EXPECT_EQ(net->BitRate(), 125000u);
    VCI_CancelBoard(uint16_t(board));
    Start(false);
    EXPECT_EQ(net->BitRate(), 62500u);
    // A bit now lasts 16 us.
    Transmit(kEight);
    net->Advance(sim::FrameBits(kEight) * 16000 - 1);
    EXPECT_EQ(Level(), 1);
    net->Advance(1);
    EXPECT_EQ(Level(), 0);
}

TEST_F(BoardTest, TransmitQueueHasItsEntriesAndDrainsAtBusPace) {
    Start();
    EXPECT_EQ(Level(), 0);
    for (int i = 0; i < 120; ++i) ASSERT_EQ(Transmit(kEight), 1) << i;
    EXPECT_EQ(Transmit(kEight), 0);
    EXPECT_EQ(Level(), 120);
    const sim::Time frame = sim::FrameBits(kEight) * 8000;
    int previous = Level();
    for (int step = 0; step < 12; ++step) {
        net->Advance(10 * frame);
        EXPECT_EQ(Level(), previous - 10);
        previous = Level();
    }
    EXPECT_EQ(received.Count(), 0u);  // not echoed
}

TEST_F(BoardTest, WithoutAReceiveQueueFramesAreDroppedUndelivered) {
    board = VCI2_PrepareBoard(VCI_BOARD_SIMULATED, 0, nullptr, 0, OnMessage, OnReceive, nullptr);
    ASSERT_GE(board, 0);
    VCI_InitCan(uint16_t(board), 0, 0x03, 0x1C, 0);
    VCI_ConfigQueue(uint16_t(board), 0, 0, 120, 0, 0, 0, &txQueue);
    ASSERT_EQ(VCI_StartCan(uint16_t(board), 0), 1);
    net->Inject(kEight, 30);
    net->Advance(100 * kMs);  // returns once the board has taken every frame
    EXPECT_EQ(received.calls.load(), 0);
}

TEST_F(BoardTest, TransmitRejectsWhatIsNoFrame) {
    EXPECT_LT(VCI_TransmitObj(0, 1, 0x100, 0, nullptr), 0);  // no board
    Start();
    const uint8_t data[8] = {};
    EXPECT_LT(VCI_TransmitObj(uint16_t(board), rxQueue, 0x100, 1, data), 0);
    EXPECT_LT(VCI_TransmitObj(uint16_t(board), txQueue, 0x800, 1, data), 0);
    EXPECT_LT(VCI_TransmitObj(uint16_t(board), txQueue, 0x100, 9, data), 0);
    EXPECT_LT(VCI_TransmitObj(uint16_t(board), txQueue, 0x100, 1, nullptr), 0);
    EXPECT_EQ(VCI_TransmitObj(uint16_t(board), txQueue, 0x100, 0, nullptr), 1);
    EXPECT_LT(VCI_ReadQueStatus(uint16_t(board), rxQueue), 0);
    net->SetRefuseTransmit(true);
    EXPECT_EQ(VCI_TransmitObj(uint16_t(board), txQueue, 0x100, 1, data), 0);
}

TEST_F(BoardTest, TransmitFromSeveralThreadsLosesNothing) {
    Start();
    net->SetCapture(true);
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (uint8_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (uint8_t i = 0; i < 50; ++i)
                accepted += Transmit(Frame(0x100 + t, {t, i})) == 1;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(accepted.load(), 120);
    EXPECT_EQ(Level(), 120);
    net->Advance(1000 * kMs);
    const auto captured = net->TakeCapture();
    EXPECT_EQ(captured.size(), 120u);
    // Each thread's frames keep their order.
    int last[4] = {-1, -1, -1, -1};
    for (const auto& f : captured) {
        const int t = f.frame.data[0], i = f.frame.data[1];
        EXPECT_GT(i, last[t]);
        last[t] = i;
    }
}

TEST_F(BoardTest, ReceiveCallbackGetsBatchesOnTheBoardsThread) {
    net->AddNode(simtest::Device(30, 30));
    Start();
    net->SetCapture(true);
    net->Inject(kEight, 120);
    net->Advance(500 * kMs);
    const auto captured = net->TakeCapture();
    const auto objects = received.Take();
    ASSERT_EQ(objects.size(), captured.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        EXPECT_EQ(FrameOf(objects[i]), captured[i].frame);
        const uint32_t stamp = objects[i].time_stamp;  // packed: read it out first
        const uint8_t status = objects[i].status;
        EXPECT_EQ(stamp, captured[i].end / 100'000);  // 100 us units
        EXPECT_EQ(status, 0);
    }
    std::lock_guard lock(received.m);
    for (uint16_t b : received.batches) EXPECT_LE(b, 50);
    for (auto id : received.threads) EXPECT_NE(id, std::this_thread::get_id());
}

// A stalled callback leaves a backlog on a bus at 1 Mbit/s: the board hands it on at its pace, and
// what its queue could not keep is marked on the newest frame kept and said once.
TEST_F(BoardTest, BacklogGoesAtTheBoardsPaceAndItsLossesAreMarked) {
    net->SetTimeMode(sim::TimeMode::RealTime);
    received.firstCallMs = 200;
    Start();
    net->SetBitRate(1'000'000);
    net->SetCapture(true);
    net->SetBackgroundLoad(100, Frame(0x7C0, {0}));
    while (received.calls == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    net->SetBackgroundLoad(0);
    while (net->HostLag() > 0 || received.inside) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const size_t onBus = net->TakeCapture().size();
    const auto objects = received.Take();
    std::lock_guard lock(received.m);
    for (uint16_t b : received.batches) ASSERT_LE(b, vci::kRxFramesPerMs);
    EXPECT_GT(onBus, objects.size() + sim::kHostRxCapacity);
    // Frames follow each other by less than 100 us: a longer step in the stamps is a gap.
    size_t gaps = 0;
    for (size_t i = 0; i + 1 < objects.size(); ++i) {
        const uint32_t stamp = objects[i].time_stamp, nextStamp = objects[i + 1].time_stamp;
        const bool gap = nextStamp - stamp > 1;
        gaps += gap;
        EXPECT_EQ(objects[i].status, gap ? VCI_RX_OVERRUN : 0) << i;
    }
    EXPECT_GT(gaps, 0u);
    EXPECT_EQ(received.messages, std::vector<std::string>{"simulated network: received frames lost"});
}

TEST_F(BoardTest, CancelReturnsWhenNoCallbackCanRun) {
    net->SetTimeMode(sim::TimeMode::Unthrottled);
    net->SetBackgroundLoad(100);
    Start();
    for (int i = 0; i < 2000 && received.calls < 50; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(received.calls.load(), 50);
    EXPECT_EQ(VCI_CancelBoard(uint16_t(board)), 1);
    board = -1;
    EXPECT_FALSE(received.inside);
    const int calls = received.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(received.calls.load(), calls);
}

// Cancelling from the receive callback itself: that call is the last.
Received* cancelling = nullptr;
int32_t cancelBoard = -1;
void CancelOnThirdCall(uint32_t, uint16_t, VCI_CAN_OBJ*) {
    if (++cancelling->calls == 3) VCI_CancelBoard(uint16_t(cancelBoard));
}

TEST_F(BoardTest, CancelFromTheCallback) {
    net->SetTimeMode(sim::TimeMode::Unthrottled);
    net->SetBackgroundLoad(100);
    cancelling = &received;
    cancelBoard = VCI2_PrepareBoard(VCI_BOARD_SIMULATED, 0, nullptr, 0, nullptr, CancelOnThirdCall, nullptr);
    ASSERT_GE(cancelBoard, 0);
    uint16_t tx = 0, rx = 0;
    VCI_InitCan(uint16_t(cancelBoard), 0, 0x03, 0x1C, 0);
    VCI_ConfigQueue(uint16_t(cancelBoard), 0, 0, 120, 0, 0, 0, &tx);
    VCI_ConfigQueue(uint16_t(cancelBoard), 0, 1, 1, 1, 0, 100, &rx);
    VCI_StartCan(uint16_t(cancelBoard), 0);
    for (int i = 0; i < 2000 && net->HostAttached(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(received.calls.load(), 3);
    EXPECT_LT(VCI_CancelBoard(uint16_t(cancelBoard)), 0);
}

TEST_F(BoardTest, NodesOutliveTheBoard) {
    net->AddNode(simtest::Device(30, 30));
    Start();
    net->Advance(300 * kMs);
    VCI_CancelBoard(uint16_t(board));
    board = -1;
    received.Take();
    Start();
    net->Advance(1000 * kMs);
    bool heartbeat = false;
    for (const auto& o : received.Take()) heartbeat |= o.id == 0x71E && o.data[0] == 5;
    EXPECT_TRUE(heartbeat);  // no boot-up: it kept running
}

}  // namespace
