// Download frames: the pieces of one record, the CRC and erase frames, and records the library
// refuses instead of reading past their end.
#include <string>

#include "RoadsFixture.h"

namespace {

TSentFrame Text(uint32_t id, const std::string& chars) { return {id, Bytes(chars.begin(), chars.end())}; }

struct TPiece {
    uint8_t Kind;
    const char* Chars;  // nullptr: nothing is sent, the result is true
};

struct TRecordCase {
    const char* Name;
    const char* Record;
    std::vector<TPiece> Pieces;
};

const TRecordCase RecordCases[] = {
    {"SixteenBytes",
     "10010000214601360121470136007EFE09D2190140",
     {{0, "10010000"}, {1, "21460136"}, {2, "01214701"}, {3, "36007EFE"}, {4, "09D21901"}, {5, "40"}}},
    {"EndOfFile", "00000001FF", {{0, "00000001"}, {1, nullptr}, {2, nullptr}, {3, nullptr}, {4, nullptr}, {5, "FF"}}},
    {"FiveBytes",
     "05010000AABBCCDDEE11",
     {{0, "05010000"}, {1, "AABBCCDD"}, {2, "EE"}, {3, nullptr}, {4, nullptr}, {5, "11"}}},
    {"LongRecordKeepsFirst32Characters",
     "14000000000102030405060708090A0B0C0D0E0F10111213EC",
     {{1, "00010203"}, {4, "0C0D0E0F"}, {5, "EC"}}},
    {"UnknownKind", "00000001FF", {{6, nullptr}, {255, nullptr}}},
};

class RecordTest : public RoadTest, public ::testing::WithParamInterface<TRecordCase> {};

TEST_P(RecordTest, EachPieceGoesOutAsItsCharacters) {
    for (const TPiece& p : GetParam().Pieces) {
        EXPECT_TRUE(_SendLine(p.Kind, GetParam().Record)) << int(p.Kind);
        const auto sent = TakeSent();
        if (p.Chars == nullptr) {
            EXPECT_TRUE(sent.empty()) << int(p.Kind);
        } else {
            EXPECT_EQ(sent, std::vector<TSentFrame>{Text(0x114u + 0x80u * p.Kind, p.Chars)}) << int(p.Kind);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Records, RecordTest, ::testing::ValuesIn(RecordCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Mended: short or malformed records and a null text were read past their end.

struct TShort {
    const char* Name;
    const char* Record;
    uint8_t Kind;
};

const TShort ShortRecords[] = {
    {"NullHeader", nullptr, 0},       {"NullData", nullptr, 1},
    {"NullChecksum", nullptr, 5},     {"ShortHeader", "1001", 0},
    {"NoByteCount", "1", 1},          {"DataMissing", "10010000", 1},
    {"DataCutShort", "1001000021460", 1}, {"SecondPieceCut", "100100002146013601", 2},
    {"ChecksumMissing", "0500000011223344", 5}, {"ChecksumHalf", "00000001F", 5},
    {"BadByteCountPointsFar", "G0000000", 5},
};

class ShortRecordTest : public RoadTest, public ::testing::WithParamInterface<TShort> {};

TEST_P(ShortRecordTest, IsRefusedWithoutSending) {
    EXPECT_FALSE(_SendLine(GetParam().Kind, GetParam().Record));
    EXPECT_TRUE(TakeSent().empty());
}

INSTANTIATE_TEST_SUITE_P(Records, ShortRecordTest, ::testing::ValuesIn(ShortRecords),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RoadTest, CrcGoesOutAsFourUpperCaseHexCharacters) {
    for (const auto& [crc, chars] : {std::pair{0x4B37, "4B37"}, std::pair{0x00AF, "00AF"}, std::pair{0xFFFF, "FFFF"}}) {
        EXPECT_TRUE(_SendCRC(uint16_t(crc)));
        EXPECT_EQ(TakeSent(), std::vector<TSentFrame>{Text(0x414, chars)});
    }
}

TEST_F(RoadTest, EraseIsTwoBytes) {
    EXPECT_TRUE(_SendErase());
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x494, {0x55, 0xAA}}}));
}

TEST_F(RoadTest, GoBootLoaderRequestOpensNoExchange) {
    EXPECT_TRUE(_SendGoBootLdr(40));
    EXPECT_EQ(TakeSent(), (std::vector<TSentFrame>{{0x628, {0x2B, 0x10, 0x20, 0x00, 0xA5, 0x5A, 0x00, 0x00}}}));
    EXPECT_EQ(SdoTransactionNode.load(), 0);
    EXPECT_EQ(State(40), 0);
}

TEST_F(RoadTest, FramesTheBoardRefusesReportFalse) {
    {
        std::lock_guard g(BoardLock());
        Board().TransmitResult = 0;
    }
    EXPECT_FALSE(_SendErase());
    EXPECT_FALSE(_SendCRC(1));
    EXPECT_FALSE(_SendGoBootLdr(40));
    EXPECT_FALSE(_SendLine(0, "00000001FF"));
    EXPECT_TRUE(_SendLine(1, "00000001FF"));  // nothing to send
}

TEST_F(RoadTest, DownloadEntriesNeedAnInstance) {
    _DestroyCANThread();
    EXPECT_FALSE(_SendErase());
    EXPECT_FALSE(_SendCRC(1));
    EXPECT_FALSE(_SendGoBootLdr(40));
    EXPECT_FALSE(_SendLine(0, "00000001FF"));
    EXPECT_EQ(_ReadTxQueueStatus(), 0);
    EXPECT_TRUE(TakeSent().empty());
}

TEST(HexHelpers, FollowTheUpperCaseRules) {
    EXPECT_EQ(TProtocol::NibbleToHex(9), '9');
    EXPECT_EQ(TProtocol::NibbleToHex(10), 'A');
    EXPECT_EQ(TProtocol::HexToNibble('f'), 255);
    EXPECT_EQ(TProtocol::HexToByte("1A"), 0x1A);
    EXPECT_EQ(TProtocol::HexToByte("G0"), 0xF0);
    char out[4];
    TProtocol::WordToHex(0xBEEF, out);
    EXPECT_EQ(std::string(out, 4), "BEEF");
}

}  // namespace
