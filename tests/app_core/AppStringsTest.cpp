#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "AppStrings.h"
#include "CoreFixture.h"

namespace {

TAppStrings LoadTable(const TempBase& base, const std::string& content) {
    base.Write("USR/T.cfg", content);
    TAppStrings table("USR\\T.cfg");
    EXPECT_TRUE(table.Load()) << table.ErrorText();
    return table;
}

// The table as the file now holds it.
TAppStrings Reread() {
    TAppStrings table("USR\\T.cfg");
    EXPECT_TRUE(table.Load()) << table.ErrorText();
    return table;
}

struct SplitCase {
    const char* line;
    const char* key;  // nullptr: the line makes no entry
    const char* text1;
    const char* text4;
};

class LineSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(LineSplitting, MakesTheEntryOrNone) {
    const SplitCase& c = GetParam();
    TempBase base;
    TAppStrings table = LoadTable(base, std::string(c.line) + "\r\n");
    if (c.key == nullptr) {
        EXPECT_TRUE(table.Entries().empty());
        return;
    }
    ASSERT_EQ(table.Entries().size(), 1u);
    const auto& entry = table.Entries()[0];
    EXPECT_EQ(entry.Key, c.key);
    EXPECT_EQ(entry.Text[0], c.text1);
    EXPECT_EQ(entry.Text[3], c.text4);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LineSplitting,
    ::testing::Values(SplitCase{R"("K1","a","b","c","d")", "K1", "a", "d"},
                      SplitCase{"K1 a b c d", "K1", "a", "d"},
                      SplitCase{"  K1\ta ,b,  c,d", "K1", "a", "d"},
                      SplitCase{R"("K2" "with blank" "" "" "")", "K2", "with blank", ""},
                      SplitCase{R"("K3" "say ""hi""" b c "x""")", "K3", "say \"hi\"", "x\""},
                      SplitCase{"K4,a,b,c,", "K4", "a", ""},
                      SplitCase{"K5,,b,c,d", "K5", "", "d"},
                      SplitCase{"K6 a b c d e f", "K6", "a", "d"},
                      SplitCase{"K7 a b c", nullptr, "", ""},
                      SplitCase{";K8 a b c d", nullptr, "", ""},
                      SplitCase{" ;K9 a b c d", ";K9", "a", "d"},
                      SplitCase{"", nullptr, "", ""},
                      SplitCase{R"("K10 a b c d)", nullptr, "", ""},
                      SplitCase{R"(K11 a b c "d e)", "K11", "a", "d e"}));

TEST(AppStrings, FirstKeyWinsAndDuplicatesAreKept) {
    TempBase base;
    TAppStrings table = LoadTable(base, "K first 2 3 4\nK second 2 3 4\rOTHER x x x x");
    EXPECT_EQ(table.Entries().size(), 3u);
    EXPECT_EQ(table.GetString("K"), "first");
    EXPECT_EQ(table.GetString("k"), "?k");
    EXPECT_EQ(table.GetString("OTHER"), "x");
}

TEST(AppStrings, MissingKeyShowsMarkerUntilRegistered) {
    TempBase base;
    TAppStrings table = LoadTable(base, "A old old old old\r\n");
    EXPECT_EQ(table.GetString("MENUFORM_TITLE"), "?MENUFORM_TITLE");
    EXPECT_TRUE(table.Register("MENUFORM_TITLE", "MENU", "MENU", "MENU", "MENU"));
    EXPECT_EQ(table.GetString("MENUFORM_TITLE"), "MENU");
    const std::string file = base.Read("USR/T.cfg");
    EXPECT_TRUE(table.Register("A", "new", "new", "new", "new"));  // present: nothing changes
    EXPECT_EQ(table.GetString("A"), "old");
    EXPECT_EQ(base.Read("USR/T.cfg"), file);
    EXPECT_EQ(Reread().GetString("MENUFORM_TITLE"), "MENU");
}

TEST(AppStrings, AppendedLinesArePaddedToTheWidestSoFar) {
    TempBase base;
    TAppStrings table = LoadTable(base, "X x x x x\r\n");
    ASSERT_TRUE(table.Reset());
    EXPECT_TRUE(table.Entries().empty());
    ASSERT_TRUE(table.Register("ABCDEF", "xx", "xx", "xx", "xx"));
    EXPECT_EQ(table.KeyWidth(), 6u);
    EXPECT_EQ(table.TextWidth(), 2u);
    ASSERT_TRUE(table.Register("AB", "y", "y", "y", "y"));
    // A long first text widens the column before the second text is written.
    ASSERT_TRUE(table.Register("LONGERKEY", "zzz", "w", "w", "w"));
    EXPECT_EQ(base.Read("USR/T.cfg"),
              "\"ABCDEF\" \"xx\" \"xx\" \"xx\" \"xx\" \r\n"
              "\"AB\"     \"y\"  \"y\"  \"y\"  \"y\"  \r\n"
              "\"LONGERKEY\" \"zzz\" \"w\"   \"w\"   \"w\"   \r\n");
}

TEST(AppStrings, AppendedLinesReadBackUnchanged) {
    TempBase base;
    TAppStrings table = LoadTable(base, "A a a a a");  // no final line break
    ASSERT_TRUE(table.Register("Q", "a \"b\" c", "x", "x", "x"));
    TAppStrings reread = Reread();
    EXPECT_EQ(reread.GetString("A"), "a");
    EXPECT_EQ(reread.GetString("Q"), "a \"b\" c");
}

TEST(AppStrings, FailedAppendIsReportedAndEntryKept) {
    TempBase base;
    TAppStrings table("NOFOLDER\\T.cfg");
    EXPECT_FALSE(table.Register("K", "k", "k", "k", "k"));
    EXPECT_EQ(table.GetString("K"), "k");
}

TEST(AppStrings, LoadErrors) {
    TempBase base;
    TAppStrings missing("USR\\None.cfg");
    EXPECT_FALSE(missing.Load());
    EXPECT_EQ(missing.ErrorText(), "FILE NOT EXISTS:  " + base.Dir() + "USR/None.cfg !");
    if (geteuid() != 0) {  // permissions do not bind root
        base.Write("USR/T.cfg", "A a a a a\r\n");
        std::filesystem::permissions(base.At("USR/T.cfg"), std::filesystem::perms::none);
        TAppStrings locked("USR\\T.cfg");
        EXPECT_FALSE(locked.Load());
        EXPECT_EQ(locked.ErrorText(), "FILE NOT READABLE:  " + base.Dir() + "USR/T.cfg !");
    }
}

TEST(AppStrings, BadContentLoadsWithoutHarm) {
    TempBase base;
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
    TAppStrings noise = LoadTable(base, binary);
    EXPECT_EQ(noise.GetString("NONE"), "?NONE");

    const std::string big(100 * 1024, 'x');
    TAppStrings large = LoadTable(base, "BIG \"" + big + "\" b c d\r\nAFTER a a a a\r\n");
    EXPECT_EQ(large.GetString("BIG"), big);
    EXPECT_EQ(large.GetString("AFTER"), "a");
}

TEST(AppStrings, ResetKeepsContentInBackup) {
    TempBase base;
    TAppStrings table = LoadTable(base, "A a a a a\r\n");
    ASSERT_TRUE(table.Reset());
    EXPECT_EQ(base.Read("USR/T.cfg"), "");
    EXPECT_EQ(base.Read("USR/T.cfg.bak"), "A a a a a\r\n");
    EXPECT_EQ(table.GetString("A"), "?A");
    EXPECT_EQ(table.KeyWidth(), 0u);
}

TEST(AppStrings, ResetFailsWholeWhenNoBackupCanBeMade) {
    TempBase base;
    TAppStrings table = LoadTable(base, "A a a a a\r\n");
    std::filesystem::create_directory(base.At("USR/T.cfg.bak"));
    EXPECT_FALSE(table.Reset());
    EXPECT_EQ(base.Read("USR/T.cfg"), "A a a a a\r\n");
    EXPECT_EQ(table.GetString("A"), "a");
}

TEST(AppStrings, ResetKeepsBackupOfUnfinishedRewrite) {
    TempBase base;
    base.Write("USR/T.cfg.bak", "A complete a a a\r\n");
    TAppStrings table = LoadTable(base, "A partial a a a\r\n");
    ASSERT_TRUE(table.Reset());
    EXPECT_EQ(base.Read("USR/T.cfg.bak"), "A complete a a a\r\n");
}

TEST(AppStrings, BaseDirHoldingUsrAndLongPathsWork) {
    const std::string deep = "USRDATA/" + std::string(120, 'd') + "/USR/" + std::string(120, 'e');
    TempBase base(deep);
    TAppStrings table = LoadTable(base, "A a a a a\r\n");
    ASSERT_TRUE(table.Reset());
    ASSERT_TRUE(table.Register("B", "b", "b", "b", "b"));
    EXPECT_EQ(table.Path(), base.Dir() + "USR\\T.cfg");
    EXPECT_EQ(base.Read("USR/T.cfg"), "\"B\" \"b\" \"b\" \"b\" \"b\" \r\n");
    EXPECT_EQ(base.Read("USR/T.cfg.bak"), "A a a a a\r\n");
}

struct RestoreCase {
    const char* name;
    bool backup;
    rlim_t sizeLimit;  // 0: none
    bool result;
    const char* file;    // content afterwards
    bool backupLeft;
};

class Restore : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(Restore, NeverLosesBothFiles) {
    const RestoreCase& c = GetParam();
    TempBase base;
    base.Write("USR/F.cfg", "partial");
    if (c.backup) base.Write("USR/F.cfg.bak", std::string(64, 'B'));
    bool result;
    {
        std::optional<FileSizeLimit> limit;
        if (c.sizeLimit != 0) limit.emplace(c.sizeLimit);
        result = RestoreFromBackup(base.At("USR\\F.cfg"));
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(base.Read("USR/F.cfg"), c.file);
    EXPECT_EQ(base.Exists("USR/F.cfg.bak"), c.backupLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Restore,
    ::testing::Values(RestoreCase{"no backup", false, 0, true, "partial", false},
                      RestoreCase{"backup", true, 0, true, "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB", false},
                      RestoreCase{"copy fails", true, 16, false, "partial", true}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

}  // namespace
