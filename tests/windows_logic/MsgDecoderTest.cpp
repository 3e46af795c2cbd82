#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/RxMsgRing.h"
#include "app/windows/MsgDecoder.h"

namespace {

#define DEGC "[\xB0" "C]"
const std::string Indent = "\r\n" + std::string(23, ' ');

TRxMsg Msg(uint32_t id, std::vector<uint8_t> data, uint32_t stamp = 0, uint8_t len = 8) {
    TRxMsg m{};
    m.TimeStamp = stamp;
    m.Id = id;
    m.Len = len;
    for (size_t i = 0; i < data.size() && i < 8; ++i) m.Data[i] = data[i];
    return m;
}

struct TRawCase {
    const char* Name;
    uint16_t Slot;
    TRxMsg Record;
    std::string Text;
};

class RawLine : public ::testing::TestWithParam<TRawCase> {};

TEST_P(RawLine, ShowsTheRecordAsItIs) {
    EXPECT_EQ(RawMsgText(GetParam().Slot, GetParam().Record), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Raw, RawLine,
    ::testing::Values(
        TRawCase{"EightBytes", 5, Msg(0x1A8, {1, 2, 3, 4, 5, 6, 7, 0xAB}, 123456),
                 "  5 Time:     123456 Id: 1A8   DLC: 8    Data: 01 02 03 04 05 06 07 AB"},
        TRawCase{"LengthCodeAboveEight", 9999, Msg(0x7FF, {0xFF, 0, 0, 0, 0, 0, 0, 0x10}, 4294967295u, 0xFC),
                 "9999 Time: 4294967295 Id: 7FF   DLC: 12    Data: FF 00 00 00 00 00 00 10"},
        TRawCase{"NoData", 0, Msg(0x12, {1, 2}, 7, 0), "  0 Time:          7 Id:  12   DLC: 0    Data:"},
        TRawCase{"TwoBytes", 42, Msg(0x494, {0x55, 0xAA}, 10, 2), " 42 Time:         10 Id: 494   DLC: 2    Data: 55 AA"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TDecodeCase {
    const char* Name;
    uint16_t Slot;
    TRxMsg Record;
    uint32_t PreviousStamp;
    bool Decoded;
    std::string Text;  // when decoded
};

class DecodedLine : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodedLine, FollowsTheFrameKind) {
    const TDecodeCase& c = GetParam();
    std::string text = "left over";
    EXPECT_EQ(DecodeMsg(c.Slot, c.Record, c.PreviousStamp, text), c.Decoded);
    if (c.Decoded) {
        EXPECT_EQ(text, c.Text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DecodedLine,
    ::testing::Values(
        TDecodeCase{"Status", 7, Msg(0x1A8, {40, 22, 0x31, 0x45, 0x2A, 0xF3, 0xFD, 0xB5}, 1234), 1000, true,
                    "  7 dt:  23 ID: 40 DT1 MI: 40 SP" DEGC ":22 LD:1 LG:3 MD:5 IF:-4 FL:10 FN:1 KY: 3" + Indent +
                        "LA:15 M:1 P:1 R:1 S:1 E:1 C:1 O:1 DI:10101 W:1 C:0 K:1 "},
        // d0 and d1 are shown whole; d6 bit 1 is not shown.
        TDecodeCase{"StatusWholeBytes", 1000, Msg(0x1FE, {0xC8, 0x80, 0, 0x30, 0, 0, 0x02, 0}, 50), 50, true,
                    "1000 dt:   0 ID:126 DT1 MI:200 SP" DEGC ":128 LD:0 LG:0 MD:0 IF: 3 FL: 0 FN:0 KY: 0" + Indent +
                        "LA: 0 M:0 P:0 R:0 S:0 E:0 C:0 O:0 DI:00000 W:0 C:0 K:0 "},
        TDecodeCase{"Sensor", 12, Msg(0x2A8, {0xD7, 0x00, 0xFB, 0xFF, 0xD2, 0x04, 0x00, 0x80}, 5), 9, true,
                    " 12 dt:   0 ID: 40 DT2 S1" DEGC ":21.5 S2" DEGC ":-0.5 S3" DEGC ":123.4 OS" DEGC ":-3276.8 "},
        TDecodeCase{"Command", 3, Msg(0x228, {0x96, 0xBD, 0xDA, 0x9C, 0xCB, 0xD7, 0x80}, 100), 0, true,
                    "  3 dt:  10 ID: 40 CMD 1SP" DEGC ":22 1MD:5 1IF: 3 1FL:10 1FN: 2 1R:0 0P:1 1D:1 1O:1" + Indent +
                        "0C:0 1E:0 1S:1 1SV" DEGC ":21.5"},
        // Identifier 0x37E: the library's command frame for node 126.
        TDecodeCase{"GroupCommand", 4, Msg(0x37E, {0, 0x70, 0, 0, 0, 0x00, 0xC0}), 0, true,
                    "  4 dt:   0 ID:126 CMZ 0SP" DEGC ": 0 0MD:0 0IF:-1 0FL:0 0FN: 0 0R:0 0P:0 0D:0 0O:0" + Indent +
                        "0C:0 0E:0 0S:0 1SV" DEGC ":-1638.4"},
        TDecodeCase{"HeartbeatOperational", 1, Msg(0x728, {5}), 0, true, "  1 dt:   0 ID: 40 HBT OPERATIONAL"},
        TDecodeCase{"HeartbeatPreOperational", 1, Msg(0x77F, {127}), 0, true, "  1 dt:   0 ID:127 HBT PRE-OPERATIONAL"},
        TDecodeCase{"HeartbeatBoot", 1, Msg(0x715, {0}), 0, true, "  1 dt:   0 ID: 21 HBT BOOT"},
        TDecodeCase{"HeartbeatOtherState", 1, Msg(0x728, {4}), 0, true, "  1 dt:   0 ID: 40 HBT "},
        TDecodeCase{"NodeManagement", 2, Msg(0x000, {0x81, 23}, 100), 0, true, "  2 dt:  10 ID: 23 MDC CS:129 "},
        // Any frame of node 0 is a node-management line, whatever its function code.
        TDecodeCase{"NodeZeroOtherFunction", 2, Msg(0x180, {0x01, 0x97}), 0, true, "  2 dt:   0 ID: 23 MDC CS:  1 "},
        TDecodeCase{"NodeManagementNoTarget", 2, Msg(0x000, {0x01, 0}), 0, true, "  2 dt:   0 ID:  0 "},
        TDecodeCase{"NeverWritten", 0, TRxMsg{}, 0, true, "  0 dt:   0 ID:  0 "},
        // Identifier 0x410: the library's command frame for node 16, function code 0x400.
        TDecodeCase{"CommandOfNode16", 1, Msg(0x410, {0x96}), 0, false, ""},
        TDecodeCase{"SdoReply", 1, Msg(0x5A8, {0x60}), 0, false, ""},
        TDecodeCase{"SystemFrame", 1, Msg(0x3FF, {}), 0, false, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// The time difference is shown in tenths of the board's stamp units, 0 unless the stamp grew.
TEST(DecodedTime, DifferenceOnlyWhenTheStampGrew) {
    const struct {
        uint32_t t, p;
        const char* dt;
    } cases[] = {{1234, 1000, "dt:  23 "}, {1000, 1000, "dt:   0 "}, {5, 0xFFFFFFF0u, "dt:   0 "},
                 {99999, 0, "dt:9999 "}, {100000, 0, "dt:10000 "}};
    for (const auto& c : cases) {
        std::string text;
        ASSERT_TRUE(DecodeMsg(1, Msg(0x728, {5}, c.t), c.p, text));
        EXPECT_NE(text.find(c.dt), std::string::npos) << text;
    }
}

// Slot 0 follows slot 9,999; the ring's own records are read.
TEST(DecodedRing, SlotZeroIsTimedAgainstTheLastSlot) {
    static TRxMsgRing ring;  // 200 kB: not on the stack
    ring.Clear();
    ring.Run();
    for (uint32_t k = 1; k <= TRxMsgRing::kSlots; ++k) ring.Capture(Msg(0x728, {5}, 100 * k));
    std::string text;
    ASSERT_TRUE(DecodeMsg(ring, 0, text));
    EXPECT_EQ(text, "  0 dt:  10 ID: 40 HBT OPERATIONAL");
    ASSERT_TRUE(DecodeMsg(ring, 1, text));
    EXPECT_EQ(text, "  1 dt:   0 ID: 40 HBT OPERATIONAL");
    EXPECT_EQ(RawMsgText(ring, 0), "  0 Time:    1000000 Id: 728   DLC: 8    Data: 05 00 00 00 00 00 00 00");
}

}  // namespace
