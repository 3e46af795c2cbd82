#include <gtest/gtest.h>

#include <climits>

#include "CoreFixture.h"
#include "UIFile.h"
#include "logserver/Pelkin.h"

namespace {

// One row line in the file's fixed columns.
std::string RowLine(const std::string& name, const std::string& units, const std::string& dec,
                    const std::string& type, const std::string& ro, const std::string& min,
                    const std::string& max, const std::string& address) {
    auto cell = [](const std::string& text, size_t width) {
        std::string c = text.substr(0, width);
        c.resize(width, ' ');
        return c;
    };
    return cell(name, 18) + cell(units, 11) + " " + cell(dec, 7) + " " + cell(type, 7) + " " +
           cell(ro, 4) + " " + cell(min, 8) + " " + cell(max, 8) + " " + cell(address, 8);
}

struct NumberCase {
    const char* text;
    int32_t value;
};

class FieldNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(FieldNumbers, Convert) { EXPECT_EQ(UIFieldToInt(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(
    Rules, FieldNumbers,
    ::testing::Values(NumberCase{"30", 30}, NumberCase{"+30", 30}, NumberCase{"-30", -30},
                      NumberCase{"$1E", 30}, NumberCase{"0x1E", 30}, NumberCase{"0X1e", 30},
                      NumberCase{"x1e", 30}, NumberCase{"X1E", 30}, NumberCase{"-$1E", 0},
                      NumberCase{"+0x1E", 0}, NumberCase{"12abc", 0}, NumberCase{"", 0},
                      NumberCase{"$", 0}, NumberCase{"-", 0}, NumberCase{"1 2", 0},
                      NumberCase{"2147483647", INT_MAX}, NumberCase{"-2147483648", INT_MIN},
                      NumberCase{"2147483648", 0}, NumberCase{"99999999999999999999", 0},
                      NumberCase{"$FFFFFFFF", -1}, NumberCase{"$100000000", 0}));

TEST(UIWinDefRow, ColumnsAndNarrowFields) {
    TUIWinDefRow row(RowLine("SETPOINT", "\xB0" "C", "0", "I", "0", "10", "30", "1"));
    EXPECT_EQ(row.Name, "SETPOINT");
    EXPECT_EQ(row.Units, "\xB0" "C");
    EXPECT_EQ(row.Type, 'I');
    EXPECT_EQ(row.Min, 10);
    EXPECT_EQ(row.Max, 30);
    EXPECT_EQ(row.Address, 1);

    TUIWinDefRow wide(RowLine("A", "", "300", "Analog", "257", "-$1E", "0x1E", "$1E"));
    EXPECT_EQ(wide.NumDec, 44);
    EXPECT_EQ(wide.Type, 'A');
    EXPECT_EQ(wide.RO, 1);
    EXPECT_EQ(wide.Min, 0);
    EXPECT_EQ(wide.Max, 30);
    EXPECT_EQ(wide.Address, 30);

    TUIWinDefRow blankType(RowLine("B", "", "1", "", "0", "-1", "1", "-1"));
    EXPECT_EQ(blankType.Type, 0);
    EXPECT_EQ(blankType.Address, 255);

    // 40 characters: name, units, decimals and the first two characters of the type field.
    TUIWinDefRow short40(RowLine("NAME", "UNIT", "2", "IX", "1", "5", "6", "7").substr(0, 40));
    EXPECT_EQ(short40.Name, "NAME");
    EXPECT_EQ(short40.Units, "UNIT");
    EXPECT_EQ(short40.NumDec, 2);
    EXPECT_EQ(short40.Type, 'I');
    EXPECT_EQ(short40.RO, 0);
    EXPECT_EQ(short40.Max, 0);
    EXPECT_EQ(short40.Address, 0);

    TUIWinDefRow longName(std::string(100 * 1024, 'N'));
    EXPECT_EQ(longName.Name, std::string(18, 'N'));
    EXPECT_EQ(longName.Address, 0);
}

TEST(UIWinDefRow, DumpLineFormat) {
    TUIWinDefRow row(RowLine("TEMP. AMBIENTE", "C", "1", "A", "1", "-400", "1000", "5"));
    EXPECT_EQ(row.ToText(),
              "TEMP. AMBIENTE       C                 1      A    1     -400     1000      5");
    TUIWinDefRow blank(RowLine("X", "", "0", "", "0", "0", "0", "0"));
    EXPECT_EQ(blank.ToText().size(), row.ToText().size());
    EXPECT_EQ(blank.ToText().find('\0'), std::string::npos);
}

class UIFileLoad : public ::testing::Test {
protected:
    void Load(const std::string& content) {
        base_.Write("USR/UI.csv", content);
        file_.SetFile("UI.csv");
        ASSERT_TRUE(file_.Load()) << file_.ErrorText();
    }
    TempBase base_;
    BoxRecorder boxes_;
    TUIFile file_;
};

TEST_F(UIFileLoad, RowsWithoutSectionAreDeviceRows) {
    Load(RowLine("ONE", "", "0", "I", "0", "0", "1", "1") + "\r\n" +
         RowLine("TWO", "", "0", "I", "0", "0", "1", "2") + "\n");
    EXPECT_EQ(file_.ParamRows.Count(), 2u);
    EXPECT_EQ(file_.ZemRows.Count(), 0u);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(UIFileLoad, SectionsCommentsAndBlankLines) {
    Load("; comment\r\n"
         "\r\n"
         " \t \r\n"
         "[PARAMETRI]\r\n" +
         RowLine("DEV", "", "0", "I", "0", "0", "1", "1") + "\r\n" +
         " ;not a comment\r\n"
         "[ZEM]\r\n" +
         RowLine("SYS", "", "1", "A", "0", "0", "1", "1") + "\r\n" +
         "[ZEM] \r\n"
         "[zem]\r\n"
         "[PARAMETRI]\r\n" +
         RowLine("DEV2", "", "0", "I", "0", "0", "1", "2") + "\r\n");
    ASSERT_EQ(file_.ParamRows.Count(), 3u);
    EXPECT_EQ(file_.ParamRows.Row(1).Name, ";not a comment");
    EXPECT_EQ(file_.ParamRows.Row(2).Name, "DEV2");
    ASSERT_EQ(file_.ZemRows.Count(), 3u);
    EXPECT_EQ(file_.ZemRows.Row(1).Name, "[ZEM]");
    EXPECT_EQ(file_.ZemRows.Row(2).Name, "[zem]");
    EXPECT_EQ(file_.Section(), "[PARAMETRI]");
}

TEST_F(UIFileLoad, DuplicateTypeAndAddressRaisesOneBoxAndKeepsBoth) {
    Load(RowLine("FIRST", "", "0", "I", "0", "0", "1", "16") + "\r\n" +
         RowLine("OTHER", "", "0", "A", "0", "0", "1", "16") + "\r\n" +
         RowLine("SECOND", "", "0", "I", "0", "0", "1", "0x10") + "\r\n" +
         "[ZEM]\r\n" + RowLine("ZEMROW", "", "0", "I", "0", "0", "1", "16") + "\r\n");
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text, "TIPO/INDIRIZZO DUPLICATO\r\nSECOND\r\nFIRST");
    EXPECT_EQ(boxes_.boxes[0].caption, "ATTENZIONE");
    EXPECT_EQ(file_.ParamRows.Count(), 3u);
    EXPECT_EQ(file_.ZemRows.Count(), 1u);
    std::vector<std::string> dump = file_.ParamRows.DumpLines();
    ASSERT_EQ(dump.size(), 5u);
    EXPECT_EQ(dump[0], "UI ROW DEFINITIONS");
    EXPECT_EQ(dump[1], "Parameter name--- Units------ NumDec- Type--- RO-- Min----- Max----- Address-");
    EXPECT_EQ(dump[4].substr(0, 6), "SECOND");
}

TEST_F(UIFileLoad, DumpFramesBothLists) {
    Load(RowLine("DEV", "", "0", "I", "0", "0", "1", "1") + "\r\n[ZEM]\r\n");
    std::vector<std::string> lines = file_.DumpLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "UI ROW DEFINITIONS");
    EXPECT_EQ(lines[3].substr(0, 4), "DEV ");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "UI ROW DEFINITIONS");
    EXPECT_EQ(lines[7], "");
    file_.Dump();  // without a log server the lines are dropped quietly

    _PELKINCreate(base_.Dir().c_str(), "LOG", 0);
    file_.Dump();
    _PELKINEnd();
    _PELKINDestroy();
    const std::string log = base_.Read("LOG.log");
    EXPECT_NE(log.find("UI ROW DEFINITIONS"), std::string::npos);
    EXPECT_NE(log.find(lines[2]), std::string::npos);
}

TEST_F(UIFileLoad, SetFileClearsAndBadContentLoads) {
    std::string binary;
    for (int i = 0; i < 2048; ++i) binary += static_cast<char>((i * 131) & 0xFF);
    Load(binary + "\n" + std::string(100 * 1024, 'Z') + "\n\"unterminated, quote\n");
    EXPECT_GT(file_.ParamRows.Count(), 0u);
    file_.SetFile("UI.csv");
    EXPECT_EQ(file_.ParamRows.Count(), 0u);
    EXPECT_EQ(file_.ZemRows.Count(), 0u);
}

TEST(UIFile, MissingFileErrorAndLongBase) {
    TempBase base("USR/" + std::string(200, 'p'));
    TUIFile file;
    file.SetFile("UI.csv");
    EXPECT_FALSE(file.Load());
    EXPECT_EQ(file.ErrorText(), "FILE NOT EXISTS " + base.Dir() + "USR/UI.csv !");
    EXPECT_GT(file.ErrorText().size(), 200u);
}

}  // namespace
