// The data exports and the unit-based family, as far as they work without a board.
#include "Morvand.h"
#include "RoadsFixture.h"

namespace {

TEST_F(RoadTest, ValuesReadTheSameWithoutInstance) {
    Heartbeat(21, 5);
    uint16_t w = 0xBEEF;
    EXPECT_TRUE(_RdDBValue(127, 5, 3, &w));
    EXPECT_EQ(w, 1);
    EXPECT_FALSE(_RdDBValue(40, 17, 3, &w));
    EXPECT_EQ(w, 1);
    EXPECT_FALSE(_RdDBValue(40, 1, 3, nullptr));
    _DestroyCANThread();
    EXPECT_TRUE(_RdDBValue(127, 5, 3, &w));
    EXPECT_EQ(w, 1);
    EXPECT_EQ(_NodeChanged(127), 0);
    EXPECT_FALSE(_GetRxMsg(nullptr));
}

TEST_F(RoadTest, BootLoaderConfirmationFollowsTheLastReply) {
    EXPECT_TRUE(_SendGoBootLdr(40));
    EXPECT_FALSE(_GoBootLdrConfirmed(40));
    SdoReply(40, {0x60, 0x10, 0x20, 0x00, 0, 0, 0, 0});
    EXPECT_TRUE(_GoBootLdrConfirmed(40));
    EXPECT_TRUE(_GoBootLdrConfirmed(40));
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 5));
    Pass();
    ASSERT_EQ(SdoTransactionNode.load(), 40) << "the reply on record does not end the new exchange";
    EXPECT_TRUE(_GoBootLdrConfirmed(40)) << "an exchange opened is no new reply";
    EXPECT_FALSE(_GoBootLdrConfirmed(41));
    // Only a reply to the boot-loader request confirms: not the node's version reply, nor any other.
    SdoReply(40, {0x43, 0x0F, 0x20, 0x00, 0x12, 0x34, 0, 0});
    EXPECT_FALSE(_GoBootLdrConfirmed(40));
    SdoReply(40, {0x60, 0x06, 0x20, 0x01, 0, 0, 0, 0});
    EXPECT_FALSE(_GoBootLdrConfirmed(40));
    SdoReply(41, {0x60, 0x10, 0x20, 0x00, 0, 0, 0, 0});
    EXPECT_FALSE(_GoBootLdrConfirmed(40)) << "another node's boot-loader reply";
    EXPECT_TRUE(_GoBootLdrConfirmed(41));
    SdoReply(127, {0x80, 0x10, 0x20, 0x00, 0, 0, 0, 0});  // an abort confirms as well
    EXPECT_FALSE(_GoBootLdrConfirmed(40));
    EXPECT_TRUE(_GoBootLdrConfirmed(126));
    EXPECT_FALSE(_GoBootLdrConfirmed(127));
    _DestroyCANThread();
    EXPECT_TRUE(_GoBootLdrConfirmed(126));
}

// ---- Unit-based family without a protocol instance or with one whose board is absent.

class UnitTest : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        UnitTable[45] = 1203;
        UnitTable[46] = 1204;
    }
};

TEST_F(UnitTest, UnitsMapToTheLowestNodeHoldingThem) {
    EXPECT_EQ(UnitToNode(1203), 45);
    EXPECT_EQ(UnitToNode(999), 0);
    EXPECT_EQ(UnitToNode(0), 1);
    UnitTable[1] = 7;
    EXPECT_EQ(UnitToNode(0), 2);
}

TEST_F(UnitTest, StatusFollowsPresenceAndLogsItsLine) {
    Heartbeat(45, 5);
    EXPECT_EQ(GetUnitStatus(1203), 0);
    EXPECT_TRUE(Logged("GetUnitStatus node: 45; status: 0"));
    EXPECT_EQ(GetUnitStatus(1204), 1);
    EXPECT_EQ(GetUnitStatus(999), 1);
    EXPECT_TRUE(Logged("GetUnitStatus node: 0; status: 1"));
}

// Mended: without a protocol a unit read as present.
TEST_F(UnitTest, StatusWithoutInstanceIsNotPresent) {
    Heartbeat(45, 5);
    _DestroyCANThread();
    EXPECT_EQ(GetUnitStatus(1203), 1);
    EXPECT_TRUE(Logged("GetUnitStatus node: 45; status: 1"));
}

struct TUnitRead {
    const char* Name;
    uint16_t Index;
    int16_t Type;
    int16_t Result;
    uint16_t Word;  // the caller's word afterwards (0xBEEF: untouched)
};

// Node 45: status byte 7 (entry 25) = 0x0A, la (entry 26) = 3, set-point (entry 3) = -2, present.
const TUnitRead UnitReads[] = {
    {"Presence", 0, 1, 1, 0},
    {"PresenceTypeFourIsNoValue", 0, 4, 0, 0xBEEF},
    {"StatusBitSet", 31, 1, 1, 1},
    {"StatusBitClear", 30, 4, 1, 0},
    {"StatusBitThree", 33, 1, 1, 1},
    {"ModeMatches", 42, 4, 1, 1},
    {"ModeDiffers", 41, 1, 1, 0},
    {"PlainInteger", 1, 3, 1, 0xFFFE},
    {"IntegerThroughFlagType", 1, 1, 1, 0xFFFE},
    {"NoSuchValue", 17, 3, 0, 0xBEEF},   // mended: a failed read leaves the word alone
    {"UnknownType", 1, 7, 0, 0xBEEF},
    {"IndexBeyond8Bits", 257, 3, 0, 0xBEEF},  // mended: not read as index 1
};

class UnitReadTest : public UnitTest, public ::testing::WithParamInterface<TUnitRead> {};

TEST_P(UnitReadTest, ReadsTheMappedValue) {
    Heartbeat(45, 5);
    Receive(0x1AD, {0, 0x7E, 0, 0, 0, 0x30, 0, 0x0A});
    const TUnitRead& r = GetParam();
    uint16_t w = 0xBEEF;
    EXPECT_EQ(ReadDBValue(1203, r.Index, r.Type, &w), r.Result);
    EXPECT_EQ(w, r.Word);
    EXPECT_TRUE(Logged("ReadDBValue node: 45; val: " + std::to_string(w) + "; ret: " + std::to_string(r.Result)));
}

INSTANTIATE_TEST_SUITE_P(Reads, UnitReadTest, ::testing::ValuesIn(UnitReads),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(UnitTest, ReadWithoutInstanceLeavesTheWord) {
    _DestroyCANThread();
    uint16_t w = 0xBEEF;
    EXPECT_EQ(ReadDBValue(1203, 0, 1, &w), 0);
    EXPECT_EQ(w, 0xBEEF);
    EXPECT_EQ(ReadDBValue(1203, 1, 1, nullptr), 0);
}

struct TUnitSend {
    const char* Name;
    uint16_t Index;
    int16_t Type;
    int16_t Result;
    bool Logs;
};

const TUnitSend UnitSends[] = {
    {"FlagTypeIntegerIndex", 1, 1, 0, true},    {"PlainInteger", 1, 3, 0, true},
    {"ReadOnlyPresence", 0, 1, -1, false},      {"ReadOnlyStatusBit", 33, 4, -1, false},
    {"ReadOnlyMode", 54, 1, -1, false},         {"ReadOnlyAnalog", 6, 2, -1, false},
    {"ReadOnlyVersion", 16, 3, -1, false},      {"NoSuchValue", 17, 3, -1, true},
    {"IndexBeyond8Bits", 257, 3, -1, true},     // mended: not written as index 1
};

class UnitSendTest : public UnitTest, public ::testing::WithParamInterface<TUnitSend> {};

TEST_P(UnitSendTest, WritesThroughTheNodeInterface) {
    const TUnitSend& s = GetParam();
    EXPECT_EQ(SendValue(1203, s.Index, s.Type, 22), s.Result);
    EXPECT_EQ(Logged("SendValue node: 45; val: 22; ret: " + std::to_string(s.Result)), s.Logs);
    Pass();
    const auto sent = TakeSent();
    if (s.Result == 0) {
        EXPECT_EQ(sent, (std::vector<TSentFrame>{{0x22D, {0x96, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}}}));
    } else {
        EXPECT_TRUE(sent.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Sends, UnitSendTest, ::testing::ValuesIn(UnitSends),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(UnitTest, SendWithoutInstanceIsRefused) {
    _DestroyCANThread();
    EXPECT_EQ(SendValue(1203, 1, 3, -1), -1);
    EXPECT_TRUE(Logged("SendValue node: 45; val: 65535; ret: -1"));
    EXPECT_EQ(CommandBlock.Target.load(), 0);
}

}  // namespace
