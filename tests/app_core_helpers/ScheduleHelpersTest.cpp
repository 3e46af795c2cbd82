#include "app/core/ScheduleHelpers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <optional>
#include <string>

TEST(ColourTest, ComponentsAndSpill) {
    EXPECT_EQ(MakeRGB(0x12, 0x34, 0x56), 0x563412u);
    EXPECT_EQ(MakeRGB(256, 0, 0), 0x000100u);  // unmasked: red spills into green
    EXPECT_EQ(PerMilleRGB(816, 816, 1000), MakeRGB(208, 208, 255));
    EXPECT_EQ(PerMilleRGB(2, 0, 1000), MakeRGB(1, 0, 255));  // 0.51 rounds up
    EXPECT_EQ(PerMilleRGB(0, 0, 0), 0u);
}

struct ValueCase {
    const char* input;
    int numDec;
    const char* point;  // text with '.' as the separator; null: no number
    const char* comma;  // text with ',' as the separator
};

constexpr const char* None = nullptr;

std::optional<std::string> Text(const char* s) { return s ? std::optional<std::string>(s) : std::nullopt; }

class ValueTextTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueTextTest, PointAndCommaLocales) {
    const ValueCase& c = GetParam();
    EXPECT_EQ(ValueTextFromInput(c.input, c.numDec, '.'), Text(c.point)) << "input '" << c.input << "'";
    EXPECT_EQ(ValueTextFromInput(c.input, c.numDec, ','), Text(c.comma)) << "input '" << c.input << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueTextTest,
    ::testing::Values(
        ValueCase{"12,5", 0, "12.5", "12,5"}, ValueCase{"12.5", 0, "12.5", "12,5"},
        ValueCase{"", 0, None, None}, ValueCase{"abc", 2, None, None}, ValueCase{"   ", 0, None, None},
        ValueCase{"1.000,5", 0, None, None},  // two separators after the replacements
        ValueCase{"  -7  ", 0, "-7", "-7"}, ValueCase{"+3", 0, "3", "3"},
        ValueCase{"12abc", 0, None, None}, ValueCase{"-", 0, None, None}, ValueCase{".", 0, None, None},
        ValueCase{".5", 0, "0.5", "0,5"}, ValueCase{"5.", 0, "5", "5"},
        ValueCase{"20.000", 3, "20", "20"},  // trailing zeros go; NumDec is not a decimal count
        ValueCase{"-0", 0, "0", "0"}, ValueCase{"0.1e1", 0, "1", "1"}, ValueCase{"1e", 0, None, None},
        ValueCase{"inf", 0, None, None}, ValueCase{"nan", 0, None, None}, ValueCase{"0x10", 0, None, None},
        ValueCase{"1e400", 0, None, None},
        // 15 significant digits, rounded
        ValueCase{"0.30000000000000004", 0, "0.3", "0,3"},
        ValueCase{"123456789.123456789", 0, "123456789.123457", "123456789,123457"},
        ValueCase{"999999999999999", 0, "999999999999999", "999999999999999"},
        // fixed range ends: 15 integer digits, magnitude 0.00001
        ValueCase{"1e15", 0, "1E15", "1E15"}, ValueCase{"1234567890123456", 2, "1.23456789012346E15", "1,23456789012346E15"},
        ValueCase{"9999999999999999", 0, "1E16", "1E16"},  // rounding lifts it out of fixed
        ValueCase{"0.00001", 0, "0.00001", "0,00001"}, ValueCase{"-0.000012", 0, "-0.000012", "-0,000012"},
        ValueCase{"0.000001", 0, "1E-6", "1E-6"}, ValueCase{"0.0000015", 2, "1.5E-06", "1,5E-06"},
        ValueCase{"1e20", 3, "1E020", "1E020"}, ValueCase{"1e20", 9, "1E0020", "1E0020"},
        ValueCase{"1e20", -1, "1E20", "1E20"}));

TEST(ValueTextTest, UsesTheSeparatorOfTheProcessLocale) {
    const char separator = *std::localeconv()->decimal_point;
    EXPECT_EQ(ValueTextFromInput("12,5", 0), std::string("12") + separator + "5");
    EXPECT_EQ(ValueTextFromInput("12.5", 0), std::string("12") + separator + "5");
    EXPECT_EQ(ValueTextFromInput("1.000,5", 0), std::nullopt);
}

struct ModCase {
    uint16_t a, b, m, sub, add;
};

TEST(ModularTest, SubAndAdd) {
    const ModCase cases[] = {
        {3, 9998, 10000, 5, 1},     {9999, 2, 10000, 9997, 1},
        {0, 0, 10000, 0, 0},        {65535, 65535, 65535, 0, 0},
        {65535, 1, 10000, 5534, 5536},  // operands reduced first
        {5, 7, 1, 0, 0},            {7, 5, 0, 0, 0},  // modulus 0 refused
        {0, 1, 0, 0, 0},
    };
    for (const ModCase& c : cases) {
        EXPECT_EQ(ModSub16(c.a, c.b, c.m), c.sub) << c.a << " - " << c.b << " mod " << c.m;
        EXPECT_EQ(ModAdd16(c.a, c.b, c.m), c.add) << c.a << " + " << c.b << " mod " << c.m;
    }
}

TEST(HexTest, Nibble) {
    const std::string digits = "0123456789ABCDEF";
    for (size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(HexToNibble(digits[i]), i);
    for (char c : std::string("afgG/:@\0 ", 9)) EXPECT_EQ(HexToNibble(c), 255) << int(c);
}

TEST(HexTest, WordAndByte) {
    struct {
        std::string_view text;
        uint16_t word;
        uint8_t byte;
    } const cases[] = {
        {"1A2F", 0x1A2F, 0x1A},
        {"1a2f", 0x1F2F, 0x1F},  // lower case counts as F
        {"G0", 0xF0FF, 0xF0},
        {"1A2F99", 0x1A2F, 0x1A},  // only the first characters count
        {"12", 0x12FF, 0x12},      // missing characters count as invalid
        {"7", 0x7FFF, 0x7F},
        {"", 0xFFFF, 0xFF},
        {std::string_view("00\0" "0", 4), 0x00F0, 0x00},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexToWord(c.text), c.word) << c.text;
        EXPECT_EQ(HexToByte(c.text), c.byte) << c.text;
    }
}

TEST(HexTest, NeverReadsPastTheLength) {
    // The view ends before the digits that follow in memory.
    const char text[] = "AB12";
    EXPECT_EQ(HexToWord(std::string_view(text, 2)), 0xABFF);
    EXPECT_EQ(HexToByte(std::string_view(text, 1)), 0xAF);
}
