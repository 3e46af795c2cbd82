// The shipped installation files load cleanly: every text the windows name is there, the
// parameter rows raise no duplicate box, and the files are single-byte text with CR LF.
#include <gtest/gtest.h>

#include <algorithm>

#include "AppStrings.h"
#include "CoreFixture.h"
#include "Fancoil.h"
#include "SetupFile.h"
#include "UIFile.h"
#include "rtl/Profile.h"
#include "rtl/StringList.h"

namespace {

namespace fs = std::filesystem;

class Dist : public ::testing::Test {
protected:
    Dist() {
        fs::copy(TELVOX_DIST_SOURCE, base_.Dir(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    TempBase base_;
};

TEST_F(Dist, EveryNamedKeyHasItsText) {
    TAppStrings strings("USR\\AppStr.cfg");
    ASSERT_TRUE(strings.Load()) << strings.ErrorText();
    for (const char* key :
         {"APPLICATION_TITLE", "MENUFORM_TITLE", "NODESUIFORM_TITLE", "EDITPAR_TITLE", "TREEFORM_TITLE",
          "MSGFORM_TITLE", "MSGUIFORM_RUN", "MSGUIFORM_STOP", "MSGUIFORM_SUSP", "DWLDUIFORM_TITLE",
          "LEGEND_TITLE", "UIFORM_OPERATIONAL", "UIFORM_PRE_OPERATIONAL", "UIFORM_NOT_PRESENT"}) {
        const std::string text = strings.GetString(key);
        EXPECT_FALSE(text.empty()) << key;
        EXPECT_NE(text[0], '?') << key;
    }
}

TEST_F(Dist, DescriptionsNameTheSimulatedNodes) {
    TAppStrings descriptions("USR\\FanStr.cfg");
    ASSERT_TRUE(descriptions.Load()) << descriptions.ErrorText();
    TFancoil model(descriptions);
    const std::string nodes = rtl::GetPrivateProfileString("Network", "Nodes", "", base_.At("sim/network.ini"));
    ASSERT_FALSE(nodes.empty());
    for (const std::string& node : rtl::SplitCommaText(nodes))
        EXPECT_FALSE(model.GetDescription(std::stoi(node)).empty()) << node;
}

TEST_F(Dist, ParameterRowsLoadWithoutDuplicates) {
    BoxRecorder boxes;
    TUIFile file;
    file.SetFile("UI.csv");
    ASSERT_TRUE(file.Load()) << file.ErrorText();
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].text;
    EXPECT_GE(file.ParamRows.Count(), 10u);
    EXPECT_GE(file.ZemRows.Count(), 1u);
    bool setPoint = false, version = false;
    for (size_t i = 0; i < file.ParamRows.Count(); ++i) {
        const TUIWinDefRow& row = file.ParamRows.Row(i);
        EXPECT_TRUE(row.Type == 'A' || row.Type == 'I') << row.Name;
        EXPECT_LE(row.Min, row.Max) << row.Name;
        setPoint |= row.Name == "SETPOINT" && row.Type == 'I' && row.Address == 1;
        version |= row.Type == 'I' && row.Address == 16 && row.NumDec == 0;
    }
    EXPECT_TRUE(setPoint);
    EXPECT_TRUE(version);
}

TEST_F(Dist, SettingsFiles) {
    TSetupFile setup("IN\\TELVOX.ini");
    setup.Read();
    EXPECT_GT(setup.Width, 0);
    EXPECT_GT(setup.Height, 0);
    const std::string ini = base_.At("Morvand.ini");
    EXPECT_EQ(rtl::GetPrivateProfileInt("General", "topSpeed", 99, ini), 1);
    EXPECT_NE(rtl::GetPrivateProfileInt("General", "logEn", 99, ini), 99);
    const int logDur = rtl::GetPrivateProfileInt("General", "logDur", 999, ini);
    EXPECT_GE(logDur, 1);
    EXPECT_LE(logDur, 998);
    EXPECT_NE(rtl::GetPrivateProfileInt("Linea 1", "Linea", 0, ini), 0);
}

TEST_F(Dist, LegendHasLinesWithinTheLimit) {
    const std::string legend = base_.Read("USR/Legend.txt");
    const auto colons = std::count(legend.begin(), legend.end(), ':');
    EXPECT_GE(colons, 10);
    EXPECT_LE(colons, 100);
}

TEST_F(Dist, TextFilesAreSingleByteWithCrLf) {
    for (const char* name : {"Morvand.ini", "IN/TELVOX.ini", "USR/AppStr.cfg", "USR/FanStr.cfg",
                             "USR/UI.csv", "USR/Legend.txt"}) {
        const std::string text = base_.Read(name);
        ASSERT_FALSE(text.empty()) << name;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << name << " at " << i;
            }
            // A UTF-8 lead byte before a continuation byte would show as two characters.
            const auto c = static_cast<unsigned char>(text[i]);
            if (c >= 0xC2 && c <= 0xF4 && i + 1 < text.size()) {
                EXPECT_FALSE((static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) << name << " at " << i;
            }
        }
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << name;
    }
}

}  // namespace
