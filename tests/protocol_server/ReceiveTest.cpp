#include <atomic>
#include <cstring>
#include <thread>

#include "MorvandFixture.h"

namespace {

class ReceiveTest : public MorvandTest {
protected:
    void SetUp() override {
        MorvandTest::SetUp();
        ASSERT_TRUE(_MORVANDProtocolCreate(1));
        ASSERT_NE(Board().Receive, nullptr);
    }
    static int16_t Value(uint8_t entry, uint8_t node) { return static_cast<int16_t>(TProtocol::GetValue(entry, node)); }
    static std::vector<TRxMsg> Drain() {
        std::vector<TRxMsg> out;
        TRxMsg m;
        while (Instance().GetRxMsg(&m)) out.push_back(m);
        return out;
    }
};

TEST_F(ReceiveTest, StatusFrameReachesEveryField) {
    Receive({Frame(0x180 + 40, {0xFF, 0x7F, 0x75, 0x7A, 0x6F, 0xA5, 0xFD, 0x42})});
    const std::pair<uint8_t, int16_t> expected[] = {
        {1, 127}, {3, -1}, {4, 7}, {5, 5}, {6, -1}, {7, 2}, {8, 3}, {9, 15}, {26, 10}, {10, 5},
        {19, 1},  {18, 1}, {17, 1}, {16, 1}, {15, 1}, {14, 1}, {12, 1}, {13, 0}, {25, 0x42}, {2, 0}, {11, 0},
    };
    for (auto [entry, value] : expected) EXPECT_EQ(Value(entry, 40), value) << "entry " << int(entry);
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0x22);
    Receive({Frame(0x180 + 40, {0xFF, 0x7F, 0x75, 0x7A, 0x6F, 0xA5, 0xFD, 0x42})});
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0) << "a repeated frame changes nothing";
}

TEST_F(ReceiveTest, StatusFrameSignedFields) {
    const std::tuple<uint8_t, uint8_t, int16_t, int16_t> cases[] = {
        // byte 1, byte 3, entry 3, entry 6
        {0x7F, 0x70, -1, -1}, {0x40, 0x40, -64, -4}, {0xFF, 0x30, -1, 3}, {0xBF, 0x00, 63, 0}, {0x80, 0xF0, 0, -1},
    };
    for (auto [b1, b3, e3, e6] : cases) {
        Receive({Frame(0x180 + 41, {0, b1, 0, b3, 0, 0, 0, 0})});
        uint16_t word = 0;
        ASSERT_TRUE(TProtocol::ReadValue(41, 1, 3, word));
        EXPECT_EQ(static_cast<int16_t>(word), e3) << "byte 1 " << int(b1);
        EXPECT_EQ(Value(6, 41), e6) << "byte 3 " << int(b3);
    }
}

TEST_F(ReceiveTest, AnalogWordsAreFifteenBitSigned) {
    const std::pair<uint16_t, int16_t> cases[] = {{0x7FFF, -1}, {0x4000, -16384}, {0x8000, 0}, {0x3FFF, 16383}, {0xBFFF, 16383}};
    for (auto [word, value] : cases) {
        const auto lo = static_cast<uint8_t>(word), hi = static_cast<uint8_t>(word >> 8);
        Receive({Frame(0x280 + 40, {lo, hi, lo, hi, lo, hi, lo, hi})});
        for (uint8_t index : {4, 5, 6, 7}) {
            uint16_t read = 0;
            ASSERT_TRUE(TProtocol::ReadValue(40, index, 2, read));
            EXPECT_EQ(static_cast<int16_t>(read), value) << std::hex << word << " index " << int(index);
        }
    }
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0x10);
}

TEST_F(ReceiveTest, SystemFrameFromAnyNodeRaisesTheSendersBits) {
    Receive({Frame(0x380 + 40, {0x34, 0x12, 0xFE, 0xFF, 0x99, 0, 0, 0})});
    EXPECT_EQ(Value(62, 0), 0x1234);
    EXPECT_EQ(Value(63, 0), -2);
    EXPECT_EQ(Value(64, 0), 0x99);
    EXPECT_EQ(TProtocol::TakeNodeChanged(40), 0x03);
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0);
    Receive({Frame(0x380 + 127, {0x35, 0x12, 0xFE, 0xFF, 0x98, 0, 0, 0})});
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0x0C);
}

TEST_F(ReceiveTest, StatusAndAnalogFromNode127StoreNothing) {
    Receive({Frame(0x180 + 127, {1, 2, 3, 4, 5, 6, 7, 8}), Frame(0x280 + 127, {1, 2, 3, 4, 5, 6, 7, 8})});
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0);
    EXPECT_EQ(Drain().size(), 2u) << "kept in the ring all the same";
}

TEST_F(ReceiveTest, HeartbeatStates) {
    struct Case {
        uint8_t state;
        bool present, operational, rearmed;
    } const cases[] = {{127, true, false, true}, {5, true, true, true}, {0, false, false, false}, {4, false, false, false}};
    for (const auto& c : cases) {
        TProtocol::SetNodeAlive(30, false);
        TProtocol::SetNodeOperational(30, false);
        Instance().HeartbeatDeadline[30].store(0);
        Receive({Frame(0x700 + 30, {c.state})});
        EXPECT_EQ(TProtocol::IsNodeAlive(30), c.present) << "state " << int(c.state);
        EXPECT_EQ(TProtocol::IsNodeOperational(30), c.operational) << "state " << int(c.state);
        EXPECT_EQ(Instance().HeartbeatDeadline[30].load(), c.rearmed ? clock.SystemTime() + 30'000'000 : 0u);
    }
    TProtocol::SetNodeAlive(30, true);
    TProtocol::TakeNodeChanged(127);
    Receive({Frame(0x700 + 30, {4})});
    EXPECT_TRUE(TProtocol::IsNodeAlive(30)) << "an unknown state changes nothing";
    EXPECT_EQ(TProtocol::TakeNodeChanged(127), 0);
    Receive({Frame(0x700 + 5, {5})});
    EXPECT_EQ(Instance().HeartbeatDeadline[5].load(), clock.SystemTime() + 30'000'000) << "re-armed for any node";
}

TEST_F(ReceiveTest, RingHoldsNineteenAndMarksTheOverrunInTheNewestKept) {
    std::vector<VCI_CAN_OBJ> frames;
    for (uint32_t i = 0; i < 19; ++i) frames.push_back(Frame(0x700 + 50, {127}, 100 + i));
    frames.push_back(Frame(0x380 + 50, {0x21, 0x43, 0, 0, 0, 0, 0, 0}, 200));
    Receive(frames);
    EXPECT_EQ(Value(62, 0), 0x4321) << "the dropped frame is still decoded";
    const auto kept = Drain();
    ASSERT_EQ(kept.size(), 19u);
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i].TimeStamp, 100 + i) << "oldest first";
        EXPECT_EQ(kept[i].Status, i == 18 ? MORVAND_RX_OVERRUN : 0);
        EXPECT_EQ(kept[i].Spare[0] | kept[i].Spare[1], 0);
    }
    TRxMsg untouched;
    std::memset(&untouched, 0xAB, sizeof untouched);
    EXPECT_FALSE(Instance().GetRxMsg(&untouched));
    EXPECT_EQ(untouched.Id, 0xABABABABu);
    EXPECT_FALSE(Instance().GetRxMsg(nullptr));
    OnVciReceive(0, 3, nullptr);  // a batch without objects is ignored
    Receive({Frame(0x123, {1, 2, 3}, 7)});  // a frame of no decoded function: only the ring
    const auto one = Drain();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].Id, 0x123u);
    EXPECT_EQ(one[0].Len, 3);
    EXPECT_EQ(one[0].Data[2], 3);
}

// A backlog larger than the ring while a reader takes one frame per pass: the callback waits for
// nobody, the database is current when it returns, and the reader is told of every frame it lost.
TEST_F(ReceiveTest, AFullRingNeverHoldsTheDatabaseBack) {
    std::vector<VCI_CAN_OBJ> frames;
    for (uint32_t i = 0; i < 58; ++i) frames.push_back(Frame(0x123, {1}, i));
    frames.push_back(Frame(0x700 + 30, {5}, 58));
    frames.push_back(Frame(0x580 + 40, {0x4B, 0x0F, 0x20, 0, 0x34, 0x12, 0, 0}, 59));
    std::atomic<size_t> calls{0}, taken{0};
    std::atomic<bool> stop{false};
    std::vector<TRxMsg> got;
    std::thread reader([&] {
        for (TRxMsg r; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(10)), ++calls)
            if (Instance().GetRxMsg(&r)) got.push_back(r), ++taken;
    });
    while (calls == 0) std::this_thread::yield();  // the reader is at work
    Receive(frames);
    const size_t takenMeanwhile = taken;
    stop = true;
    reader.join();
    EXPECT_LT(takenMeanwhile, 19u) << "the callback waited for the reader";
    EXPECT_EQ(TProtocol::GetValueEx(EntryPresence, 30), 1);
    EXPECT_EQ(Value(27, 40), 0x1234);
    for (const TRxMsg& r : Drain()) got.push_back(r);
    ASSERT_LT(got.size(), frames.size());
    for (size_t i = 0; i + 1 < got.size(); ++i)
        EXPECT_EQ(got[i].Status, got[i + 1].TimeStamp == got[i].TimeStamp + 1 ? 0 : MORVAND_RX_OVERRUN) << i;
}

TEST_F(ReceiveTest, SdoUploadRepliesFillTheParameters) {
    Receive({Frame(0x580 + 40, {0x43, 0x05, 0x20, 1, 11, 12, 0xF3, 14})});
    Receive({Frame(0x580 + 40, {0x43, 0x05, 0x20, 5, 51, 52, 53, 54})});
    const std::pair<uint8_t, int16_t> expected[] = {{28, 11}, {29, 12}, {38, -13}, {39, 14}, {36, 51}, {37, 52}, {46, 53}, {47, 54}};
    for (auto [entry, value] : expected) EXPECT_EQ(Value(entry, 40), value) << "entry " << int(entry);
    Receive({Frame(0x580 + 40, {0x43, 0x05, 0x20, 6, 1, 1, 1, 1})});
    const TSdoReply r = LastSdoReply.Load();
    EXPECT_EQ(r.Node, 40);
    EXPECT_EQ(r.Index, 0x2005);
    EXPECT_EQ(r.Sub, 6) << "sub-index 6 stores nothing but is recorded";
    Receive({Frame(0x580 + 127, {0x43, 0x0F, 0x20, 0, 0x12, 0x34, 0, 0})});
    EXPECT_EQ(TProtocol::GetValue(27, 126), 0x3412);
    EXPECT_EQ(LastSdoReply.Load().Node, 126) << "node 127 is booked as 126";
}

// Writes one value through the callers' path and lets the sender put its download in flight.
void Download(uint8_t node, uint8_t index, int16_t value) {
    ASSERT_TRUE(TProtocol::WriteValue(node, index, 3, value)) << int(index);
    Protocol.load()->SendPendingCommand();
}

TEST_F(ReceiveTest, DownloadAcknowledgementStoresTheValueSentEachTime) {
    const struct {
        uint8_t index;
        int16_t value;
        std::vector<uint8_t> ack;
        uint8_t entry;
    } cases[] = {
        {24, 9, {0x60, 0x06, 0x20, 1}, 28},  {43, -5, {0x60, 0x07, 0x20, 10}, 47}, {14, 33, {0x60, 0x08, 0x20, 1}, 1},
        {22, 3, {0x60, 0x09, 0x20, 1}, 5},   {21, 2, {0x60, 0x0A, 0x20, 1}, 4},    {20, 7, {0x60, 0x0B, 0x20, 1}, 10},
        {23, 1, {0x60, 0x0C, 0x20, 1}, 12},
    };
    for (const auto& c : cases) {
        Download(40, c.index, c.value);
        TProtocol::TakeNodeChanged(40);
        for (int i = 0; i < 2; ++i) {
            Receive({Frame(0x580 + 40, c.ack)});
            EXPECT_EQ(static_cast<int16_t>(TProtocol::GetValue(c.entry, 40)), c.value) << "entry " << int(c.entry);
            EXPECT_NE(TProtocol::TakeNodeChanged(40), 0) << "raised on every acknowledgement, entry " << int(c.entry);
        }
        Instance().SuperviseSdo();  // the reply ends the exchange
        ASSERT_EQ(SdoTransactionNode.load(), 0);
    }
}

TEST_F(ReceiveTest, AcknowledgementOfNoDownloadInFlightStoresNothing) {
    Download(40, 26, 77);  // entry 30: object 0x2006 sub-index 3
    TProtocol::TakeNodeChanged(41);
    Receive({Frame(0x580 + 41, {0x60, 0x06, 0x20, 3}), Frame(0x580 + 40, {0x60, 0x06, 0x20, 4}),
             Frame(0x580 + 40, {0x60, 0x06, 0x20, 11}), Frame(0x580 + 40, {0x80, 0x06, 0x20, 3})});
    EXPECT_EQ(TProtocol::GetValue(30, 41), 0) << "another node's acknowledgement";
    EXPECT_EQ(TProtocol::GetValue(31, 40), 0) << "another sub-index";
    EXPECT_EQ(TProtocol::TakeNodeChanged(41), 0);
    EXPECT_EQ(LastSdoReply.Load().Sub, 3) << "every reply is recorded";
}

}  // namespace
