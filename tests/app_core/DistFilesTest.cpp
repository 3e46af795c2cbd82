// The shipped installation files load cleanly: every text the windows name is there, the
// parameter rows raise no duplicate box, and the files are single-byte text with CR LF.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "AppStrings.h"
#include "CoreFixture.h"
#include "Fancoil.h"
#include "SetupFile.h"
#include "TestFiles.h"
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

// The names in the first column of the README's table of the installation folder.
std::vector<std::string> ListedNames() {
    std::istringstream readme(ReadText(TELVOX_README));
    std::vector<std::string> names;
    bool section = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.starts_with("## ")) section = line == "## The installation folder";
        if (!section || !line.starts_with("| `")) continue;
        const std::string first = line.substr(0, line.find('|', 1));
        for (size_t a = first.find('`'), b; a != std::string::npos; a = first.find('`', b + 1)) {
            b = first.find('`', a + 1);
            names.push_back(first.substr(a + 1, b - a - 1));
        }
    }
    return names;
}

// The log, and what the user or the program puts into a listed folder, come while it runs.
bool MadeAtRunTime(const std::string& name) { return name.starts_with("LOG") || name.ends_with('/'); }
bool Admits(const std::string& name, const std::string& file) {
    if (name.ends_with('/')) return file.starts_with(name);
    if (name.starts_with("LOG"))
        return file.starts_with("LOG") && file.ends_with(".log") && file.find('/') == std::string::npos;
    return file == name;
}

std::string DynamicSection(const fs::path& file) {
    std::string text;
    if (FILE* p = popen(("LC_ALL=C readelf -d '" + file.string() + "'").c_str(), "r")) {
        char chunk[512];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, p)) > 0;) text.append(chunk, n);
        pclose(p);
    }
    return text;
}

// The folder a technician copies holds what the README lists and no build left-overs, and each of
// its programs and libraries looks for the others beside itself only, not in the build folder.
TEST(BuiltDist, HoldsWhatTheReadmeListsAndFindsItsLibrariesBesideItself) {
    const fs::path dist = TELVOX_DIST;
    const auto names = ListedNames();
    ASSERT_GE(names.size(), 10u);
    for (const std::string& name : names) {
        if (!MadeAtRunTime(name) && (TELVOX_WITH_PROGRAM || name != "telvox")) {
            EXPECT_TRUE(fs::is_regular_file(dist / name)) << name << " is listed and missing";
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(dist)) {
        if (!entry.is_regular_file()) continue;
        const std::string file = entry.path().lexically_relative(dist).string();
        EXPECT_TRUE(std::ranges::any_of(names, [&](const std::string& n) { return Admits(n, file); }))
            << file << " is not in the README's table";
        char magic[4] = {};
        std::ifstream(entry.path(), std::ios::binary).read(magic, 4);
        if (std::string(magic, 4) == "\x7F" "ELF") {
            const std::string dynamic = DynamicSection(entry.path());
            EXPECT_NE(dynamic.find("Library runpath: [$ORIGIN]\n"), std::string::npos) << file << dynamic;
            EXPECT_EQ(dynamic.find("Library rpath"), std::string::npos) << file;
        }
    }
}

}  // namespace
