#include <gtest/gtest.h>

#include "CoreFixture.h"
#include "SetupFile.h"

namespace {

struct ReadCase {
    const char* name;
    const char* content;  // nullptr: no file
    int top, left, width, height, state;
};

class SetupRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SetupRead, GivesTheValuesOrDefaults) {
    const ReadCase& c = GetParam();
    TempBase base;
    std::filesystem::create_directory(base.At("IN"));
    if (c.content != nullptr) base.Write("IN/TELVOX.ini", c.content);
    TSetupFile setup("IN\\TELVOX.ini");
    EXPECT_TRUE(setup.Read());
    EXPECT_EQ(setup.Top, c.top);
    EXPECT_EQ(setup.Left, c.left);
    EXPECT_EQ(setup.Width, c.width);
    EXPECT_EQ(setup.Height, c.height);
    EXPECT_EQ(setup.State, c.state);
    EXPECT_TRUE(setup.ErrorText().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupRead,
    ::testing::Values(
        ReadCase{"NoFile", nullptr, 0, 0, 640, 480, 0},
        ReadCase{"AllKeys", "[UI]\r\nWINTOP=10\r\nWINLEFT=-20\r\nWINWIDTH=800\r\nWINHEIGHT=600\r\nWINSTATUS=2\r\n",
                 10, -20, 800, 600, 2},
        ReadCase{"WidthMissing", "[ui]\r\nwintop=10\r\nWINHEIGHT=600\r\n", 10, 0, 0, 600, 0},
        ReadCase{"Top99MeansDefaults", "[UI]\r\nWINTOP=99\r\nWINWIDTH=1\r\nWINSTATUS=1\r\n", 0, 0, 640, 480, 0},
        ReadCase{"TopNotNumber", "[UI]\r\nWINTOP=abc\r\nWINWIDTH=700\r\n", 0, 0, 640, 480, 0},
        ReadCase{"LeftNotNumber", "[UI]\r\nWINTOP=3\r\nWINLEFT=x\r\n", 3, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetupFile, WriteThenReadGivesTheValuesBack) {
    TempBase base;
    std::filesystem::create_directory(base.At("IN"));
    base.Write("IN/TELVOX.ini", "; window\r\n[Other]\r\nkey=1\r\n");
    TSetupFile setup("IN\\TELVOX.ini");
    setup.Top = -8;
    setup.Left = 12;
    setup.Width = 1024;
    setup.Height = 700;
    setup.State = 2;
    ASSERT_TRUE(setup.Write());
    TSetupFile again("IN\\TELVOX.ini");
    again.Read();
    EXPECT_EQ(again.Top, -8);
    EXPECT_EQ(again.Left, 12);
    EXPECT_EQ(again.Width, 1024);
    EXPECT_EQ(again.Height, 700);
    EXPECT_EQ(again.State, 2);
    EXPECT_NE(base.Read("IN/TELVOX.ini").find("key=1"), std::string::npos);

    again.Top = 99;
    ASSERT_TRUE(again.Write());
    TSetupFile third("IN\\TELVOX.ini");
    third.Read();
    EXPECT_EQ(third.Width, 640);
    EXPECT_EQ(third.Height, 480);
}

}  // namespace
