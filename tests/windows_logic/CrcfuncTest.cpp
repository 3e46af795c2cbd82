#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "app/windows/Crcfunc.h"
#include "protocol_roads/HexRecords.h"
#include "sim/BootLoader.h"

namespace {

TEST(Crcfunc, HexCharactersCountAsTheirValueAndAnythingElseAsZero) {
    const std::pair<char, int> cases[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'F', 15},
                                          {'a', 0}, {'f', 0}, {'G', 0},  {':', 0}};
    for (auto [c, v] : cases) EXPECT_EQ(HexCharValue(c), v) << c;
    EXPECT_EQ(HexPairValue('B', '7'), 0xB7);
    EXPECT_EQ(HexPairValue('b', '7'), 0x07);
}

TEST(Crcfunc, TableStepsAreThoseOfTheReflectedTable) {
    EXPECT_EQ(CrcTableStep(0x01, 0x0000), 0xC0C1);
    EXPECT_EQ(CrcTableStep(0xFF, 0x0000), 0x4040);
    // The high byte of the register moves into the low byte.
    EXPECT_EQ(CrcTableStep(0x00, 0x1200), 0x0012);
}

struct TRecordCase {
    const char* Name;
    std::string Text;
    bool Valid;
    uint8_t Length, Type;
    uint16_t Address;
};

class RecordCheck : public ::testing::TestWithParam<TRecordCase> {};

TEST_P(RecordCheck, ParsesTheFieldsAndTestsTheChecksum) {
    const TRecordCase& c = GetParam();
    EXPECT_EQ(HexRecordCheck(c.Text), c.Valid);
    EXPECT_EQ(HexRecordLength, c.Length);
    EXPECT_EQ(HexRecordType, c.Type);
    EXPECT_EQ(HexRecordAddress, c.Address);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordCheck,
    ::testing::Values(TRecordCase{"EndOfFile", "00000001FF", true, 0, 1, 0},
                      TRecordCase{"EndOfFileBadChecksum", "00000001FE", false, 0, 1, 0},
                      TRecordCase{"ExtendedAddress", "020000040000FA", true, 2, 4, 0},
                      TRecordCase{"Data", "10010000214601360121470136007EFE09D2190140", true, 16, 0, 0x0100},
                      TRecordCase{"LowerCaseDigits", "10010000214601360121470136007efe09d2190140", false, 16, 0, 0x0100},
                      TRecordCase{"EndOfFileChecksumTopBit", "00000001" "7F", false, 0, 1, 0},  // all 8 bits count
                      TRecordCase{"TrailingTextRefused", "00000001FF  ", false, 0, 1, 0},
                      TRecordCase{"TrailingHexDigitsRefused", "00000001FF" "00", false, 0, 1, 0},
                      TRecordCase{"NotAHexDigitThatAddsUp", "01000000G0FF", false, 1, 0, 0},
                      // Beyond the record buffer, the text or the image: refused, nothing read or written.
                      TRecordCase{"SeventeenBytes", HexRecord(0x0200, 0, std::vector<uint8_t>(17, 0x11)), false, 17, 0, 0x0200},
                      TRecordCase{"TextShorterThanItsCount", "10010000214601", false, 16, 0, 0x0100},
                      TRecordCase{"NoChecksum", "00000001", false, 0, 1, 0},
                      TRecordCase{"TooShortForAHeader", "000000", false, 0, 0, 0},
                      TRecordCase{"PastTheImage", HexRecord(0xEFF8, 0, std::vector<uint8_t>(16, 0x22)), false, 16, 0, 0xEFF8},
                      TRecordCase{"AtTheImageEnd", HexRecord(0xEFFE, 0, {0x34, 0x12}), true, 2, 0, 0xEFFE}),
    [](const auto& info) { return std::string(info.param.Name); });

class Image : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ImageFill(0, 0xEFFF)); }
    static uint16_t SimulatedCrc() { return sim::Crc16(HexImage.data(), HexImage.size()); }
};

TEST_F(Image, BlankImageAndCheckValue) {
    EXPECT_EQ(ImageCrc(), 0xC000);
    ASSERT_TRUE(ImageFill(0, 8));
    ASSERT_TRUE(HexRecordCheck(HexRecord(0, 0, {'1', '2', '3', '4', '5', '6', '7', '8', '9'})));
    EXPECT_EQ(ImageCrc(), 0x4B37);
}

TEST_F(Image, DataRecordsFillTheImageAndOthersAreOnlyChecked) {
    ASSERT_TRUE(HexRecordCheck("0100000000FF"));  // one byte 0x00 at address 0
    EXPECT_EQ(HexImage[0], 0x00);
    EXPECT_NE(ImageCrc(), 0xC000);
    const uint16_t crc = ImageCrc();
    EXPECT_TRUE(HexRecordCheck("020000040001F9"));
    EXPECT_TRUE(HexRecordCheck("00000001FF"));
    EXPECT_EQ(ImageCrc(), crc);
    // A refused record leaves the image as it was.
    EXPECT_FALSE(HexRecordCheck("0100000055AB"));
    EXPECT_FALSE(HexRecordCheck(HexRecord(0xEFF8, 0, std::vector<uint8_t>(16, 0x22))));
    EXPECT_EQ(HexImage[0xEFF8], 0xFF);
    EXPECT_EQ(ImageCrc(), crc);
}

TEST_F(Image, RefusedRangesChangeNothing) {
    ASSERT_TRUE(HexRecordCheck("0100000000FF"));
    ASSERT_TRUE(ImageFill(0x10, 0x20));
    EXPECT_FALSE(ImageFill(0x100, 0xFF));
    EXPECT_FALSE(ImageFill(0, 0xF000));
    EXPECT_EQ(ImageStart, 0x10);
    EXPECT_EQ(ImageEnd, 0x20);
    EXPECT_EQ(HexImage[0], 0x00);
    // The range filled, and only it, is blank again.
    ASSERT_TRUE(ImageFill(0, 0));
    EXPECT_EQ(HexImage[0], 0xFF);
}

// The boot loaders compare the CRC the program sends with their own over the whole image area:
// both must give the same value for every image.
TEST_F(Image, CrcAgreesWithTheBootLoaders) {
    EXPECT_EQ(ImageCrc(), SimulatedCrc());
    for (uint16_t address : {0x0000, 0x00F8, 0x1230, 0x7FF0, 0xEFF0}) {
        std::vector<uint8_t> data(16);
        std::iota(data.begin(), data.end(), uint8_t(address >> 4));
        ASSERT_TRUE(HexRecordCheck(HexRecord(address, 0, data)));
        EXPECT_EQ(ImageCrc(), SimulatedCrc()) << std::hex << address;
    }
}

}  // namespace
