#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "app/core/AppStrings.h"
#include "app/core/Fancoil.h"
#include "app/windows/ValueCheck.h"

namespace {

TUIWinDefRow Row(char type, uint8_t address, int32_t min, int32_t max, uint8_t decimals = 0,
                 const std::string& name = "ROW") {
    TUIWinDefRow row("");
    row.Name = name;
    row.Type = type;
    row.Address = address;
    row.Min = min;
    row.Max = max;
    row.NumDec = decimals;
    return row;
}

struct TEntryCase {
    const char* Text;
    uint8_t NumDec;
    std::optional<int16_t> Value;
};

// Scaled by 10^NumDec, rounded half away from zero; beyond 16 bits, or no number, there is no value.
TEST(EnteredValue, ScalesAndRoundsHalfAwayFromZero) {
    const TEntryCase cases[] = {
        {"21,5", 1, 215},      {"21.5", 1, 215},          {"-2.45", 1, -25},     {"0.05", 1, 1},
        {"0,04", 1, 0},        {"-0.04", 1, 0},           {"", 1, std::nullopt}, {"abc", 0, std::nullopt},
        {"1.000,5", 1, std::nullopt}, {" 12 ", 0, 12},           {"1.5E2", 0, 150},     {"32767", 0, 32767},
        {"-32768", 0, -32768}, {"-32768.4", 0, -32768},   {"32767.5", 0, std::nullopt},
        {"65536", 0, std::nullopt}, {"3276.8", 1, std::nullopt}, {"1e300", 10, std::nullopt},
    };
    for (const TEntryCase& c : cases) EXPECT_EQ(EnteredValue(c.Text, c.NumDec), c.Value) << c.Text;
}

const TUIWinDefRow SetPoint = Row('I', 1, 10, 30, 0, "SETPOINT");
constexpr const char* Written = nullptr;

struct TCheckCase {
    const char* Name;
    TUIWinDefRow Row;
    uint8_t Node;
    TNodeMode Mode;
    const char* Entry;
    const char* Refusal;  // Written: accepted
    bool WithSetPoint = true;
};

class Validation : public ::testing::TestWithParam<TCheckCase> {};

TEST_P(Validation, FirstMatchingLineDecides) {
    const TCheckCase& c = GetParam();
    const TValueVerdict v = CheckEntry(c.Entry, c.Row, c.WithSetPoint ? &SetPoint : nullptr, c.Node, c.Mode);
    if (c.Refusal == Written) {
        ASSERT_TRUE(v.Accepted) << v.Refusal;
        EXPECT_EQ(v.Value, *EnteredValue(c.Entry, c.Row.NumDec));
        EXPECT_EQ(v.Kind, c.Row.Type == 'A' ? 2 : 3);
        EXPECT_TRUE(v.Refusal.empty());
    } else {
        EXPECT_FALSE(v.Accepted);
        EXPECT_EQ(v.Refusal, c.Refusal);
    }
}

const char* Range = "VALORE FUORI RANGE";
const char* FcM = "ESCI: non impostabile su FcM";
const char* NotValid = "VALORE NON VALIDO!";
const TNodeMode FcMOn{true, 0, 0};
const TNodeMode Off{false, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Lines, Validation,
    ::testing::Values(
        // Analog rows and the controller's rows: their own range alone, whatever mode and address.
        TCheckCase{"AnalogTop", Row('A', 14, -100, 100), 40, FcMOn, "100", Written},
        TCheckCase{"AnalogAbove", Row('A', 14, -100, 100), 40, FcMOn, "101", Range},
        TCheckCase{"AnalogBeyond16Bits", Row('A', 1, -100, 100), 40, Off, "65536", Range},
        TCheckCase{"AnalogDecimals", Row('A', 1, 100, 300, 1), 40, Off, "21,5", Written},
        TCheckCase{"ZemIgnoresFcM", Row('I', 14, 0, 200), 127, FcMOn, "150", Written},
        TCheckCase{"ZemIgnoresSetPointMode", Row('I', 34, -5, 5), 127, {true, 5, 0}, "3", Written},
        TCheckCase{"ZemOwnRange", Row('I', 34, -5, 5), 127, {true, 5, 0}, "25", Range},
        // FcM on, address 18: own range first, then the value 1 is refused.
        TCheckCase{"ModeOneOnFcM", Row('I', 18, 0, 5), 40, FcMOn, "1", FcM},
        TCheckCase{"ModeOneOutsideRange", Row('I', 18, 2, 5), 40, FcMOn, "1", Range},
        TCheckCase{"ModeAboveRange", Row('I', 18, 0, 5), 40, FcMOn, "7", Range},
        TCheckCase{"ModeOtherOnFcM", Row('I', 18, 0, 5), 40, FcMOn, "3", Written},
        // FcM on: these are never settable.
        TCheckCase{"MasterOnFcM", Row('I', 14, 0, 127), 40, FcMOn, "40", FcM},
        TCheckCase{"Index21OnFcM", Row('I', 21, 0, 7), 40, FcMOn, "3", FcM},
        TCheckCase{"Index24OnFcM", Row('I', 24, 0, 255), 40, FcMOn, "3", FcM},
        TCheckCase{"Index33BeyondRangeOnFcM", Row('I', 33, 0, 255), 40, FcMOn, "99999", FcM},
        // Parameters 34 to 43 under the set-point modes.
        TCheckCase{"SetPointModeFcM", Row('I', 34, -10, 10), 40, {true, 5, 22}, "25", Written},
        TCheckCase{"SetPointModeAbove", Row('I', 34, -10, 10), 40, {true, 5, 22}, "31", Range},
        TCheckCase{"OffsetModeFcM", Row('I', 34, -10, 10), 40, {true, 6, 22}, "5", Written},
        TCheckCase{"OffsetModeAbove", Row('I', 34, -10, 10), 40, {true, 6, 22}, "10", Range},
        TCheckCase{"OtherModeFcM", Row('I', 34, -10, 10), 40, {true, 3, 22}, "5", FcM},
        TCheckCase{"SetPointMode", Row('I', 43, -10, 10), 40, {false, 5, 22}, "25", Written},
        TCheckCase{"OffsetModeBelow", Row('I', 43, -20, 20), 40, {false, 6, 22}, "-13", Range},
        TCheckCase{"OffsetMode", Row('I', 43, -20, 20), 40, {false, 6, 22}, "-12", Written},
        TCheckCase{"OtherModeOwnRange", Row('I', 34, -10, 10), 40, {false, 3, 22}, "5", Written},
        TCheckCase{"OtherModeOutside", Row('I', 34, -10, 10), 40, {false, 3, 22}, "11", Range},
        TCheckCase{"NoSetPointRowUsesOwnRange", Row('I', 34, -10, 40), 40, {false, 5, 0}, "35", Written, false},
        TCheckCase{"NoSetPointRowOffset", Row('I', 34, -10, 40), 40, {true, 6, 22}, "30", Written, false},
        TCheckCase{"NoSetPointRowOutside", Row('I', 34, -10, 40), 40, {true, 6, 22}, "41", Range, false},
        // Any other address: the own range.
        TCheckCase{"ModeOneWithoutFcM", Row('I', 18, 0, 5), 40, Off, "1", Written},
        TCheckCase{"Index21WithoutFcM", Row('I', 21, 0, 7), 40, Off, "8", Range},
        TCheckCase{"OtherAddressOnFcM", Row('I', 5, 0, 3), 40, FcMOn, "3", Written},
        // An entry that is no number is refused, never written as 0; a typed 0 still is.
        TCheckCase{"EmptyEntry", Row('I', 5, 0, 3), 40, Off, "", NotValid},
        TCheckCase{"EmptyEntryOutside", Row('I', 5, 1, 3), 40, Off, "", NotValid},
        TCheckCase{"BlanksOnly", Row('A', 1, -100, 100), 40, Off, "   ", NotValid},
        TCheckCase{"Letter", Row('I', 5, 0, 3), 40, Off, "x", NotValid},
        TCheckCase{"DigitThenLetter", Row('I', 5, 0, 3), 40, Off, "3x", NotValid},
        TCheckCase{"TwoPoints", Row('A', 1, -100, 100, 1), 127, Off, "1.2.3", NotValid},
        TCheckCase{"TypedZero", Row('I', 5, 0, 3), 40, Off, "0", Written},
        TCheckCase{"IntegerInitialTextAgain", Row('I', 5, 100, 300, 1), 40, Off, "  21.5", Written}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Validation, RowsOfOtherTypesAreNeitherWrittenNorRefused) {
    const TValueVerdict v = CheckEntry("1", Row(0, 5, 0, 3), &SetPoint, 40, Off);
    EXPECT_FALSE(v.Accepted);
    EXPECT_TRUE(v.Refusal.empty());
}

TEST(EditInitialText, FollowsTheRowTypeAndDecimals) {
    EXPECT_EQ(EditInitialText(Row('I', 5, 0, 0, 1), 215), "  21.5");
    EXPECT_EQ(EditInitialText(Row('A', 5, 0, 0, 1), 215), "21.5");
    EXPECT_EQ(EditInitialText(Row('A', 5, 0, 0, 0), -5), "-5");
    EXPECT_EQ(EditInitialText(Row('I', 5, 0, 0, 2), 5), "  0.05");
    EXPECT_EQ(EditInitialText(Row('I', 5, 0, 0, 0), 0xFFFF), "-1");  // a signed 16-bit value
    EXPECT_EQ(EditInitialText(Row('I', 5, 0, 0, 1), 0xFFFF), "  -0.1");
    EXPECT_EQ(EditInitialText(Row('X', 5, 0, 0, 1), 215), std::nullopt);
    // However many decimals, the whole text.
    EXPECT_EQ(EditInitialText(Row('A', 5, 0, 0, 120), 1)->size(), 122u);
}

TEST(FindSetPointRow, TakesTheFirstExactName) {
    TUIWinDefRows rows;
    EXPECT_EQ(FindSetPointRow(rows), nullptr);
    rows.Add(std::make_unique<TUIWinDefRow>(Row('I', 1, 0, 0, 0, "setpoint")));
    rows.Add(std::make_unique<TUIWinDefRow>(Row('I', 2, 0, 0, 0, "SETPOINTS")));
    EXPECT_EQ(FindSetPointRow(rows), nullptr);
    rows.Add(std::make_unique<TUIWinDefRow>(Row('I', 3, 5, 0, 0, "SETPOINT")));
    rows.Add(std::make_unique<TUIWinDefRow>(Row('I', 4, 6, 0, 0, "SETPOINT")));
    ASSERT_NE(FindSetPointRow(rows), nullptr);
    EXPECT_EQ(FindSetPointRow(rows)->Min, 5);
}

TEST(ReadNodeMode, TakesIntegers23_21And1) {
    TAppStrings descriptions("USR\\FanStr.cfg");  // never loaded: no descriptions
    TFancoil model(descriptions);
    model.Store(127, 6, 1 << (40 - 37), 3);  // node 40 present
    model.Store(40, 23, 0x100, 3);
    model.Store(40, 21, 6, 3);
    model.Store(40, 1, 22, 3);
    const TNodeMode m = ReadNodeMode(model, 40);
    EXPECT_TRUE(m.FcM);
    EXPECT_EQ(m.M, 6);
    EXPECT_EQ(m.S, 22);
    EXPECT_FALSE(ReadNodeMode(model, 41).FcM);  // not present: reads 0
}

}  // namespace
