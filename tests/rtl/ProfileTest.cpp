#include "rtl/Files.h"
#include "rtl/Profile.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    const char* expected;  // with the default "DEF"
};

const std::string kCommon =
    "; settings\r\n"
    "[General]\r\n"
    "topSpeed=1\r\n"
    "  logEn  =  7  \r\n"
    "Quoted=\"  padded  \"\r\n"
    "HalfQuoted=\"open\r\n"
    "OneQuote=\"\r\n"
    "Empty=\r\n"
    "Equals=a=b\r\n"
    "my key = spaced value\r\n"
    "not a key line\r\n"
    "topSpeed=2\r\n"
    "  [ Linea 1 ]  \r\n"
    "Linea=3\r\n"
    "[general]\r\n"
    "topSpeed=9\r\n"
    "[Other]\r\n"
    "only=here\r\n";

class ProfileReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileReadTest, ReadsLikeWindows) {
    const ReadCase& c = GetParam();
    TempDir dir;
    std::string file = dir / "s.ini";
    ASSERT_TRUE(rtl::WriteWholeFile(file, c.file));
    EXPECT_EQ(rtl::GetPrivateProfileString(c.section, c.key, "DEF", file), c.expected);
    EXPECT_EQ(rtl::TIniFile(file).ReadString(c.section, c.key, "DEF"), c.expected);
}

std::string Lf(std::string s) {
    std::string out;
    for (char ch : s)
        if (ch != '\r') out += ch;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileReadTest,
    ::testing::Values(
        ReadCase{"Plain", kCommon, "General", "topSpeed", "1"},
        ReadCase{"CaseOfNames", kCommon, "GENERAL", "TOPSPEED", "1"},
        // A fold that misses A or Z, or takes in a byte beside them ('@' '[' '`' '{'), fails here.
        ReadCase{"CaseAtBothEndsOfTheAlphabet", "[zone]\r\naz=1\r\n", "ZONE", "AZ", "1"},
        ReadCase{"CaseAtBothEndsUpperInTheFile", "[ZONE]\r\nAZ=1\r\n", "zone", "az", "1"},
        ReadCase{"AtIsNoLetter", "[A]\r\nk`=1\r\n", "A", "k@", "DEF"},
        ReadCase{"GraveIsNoLetter", "[A]\r\nk@=1\r\n", "A", "k`", "DEF"},
        ReadCase{"BracketIsNoLetter", "[A]\r\nk{=1\r\n", "A", "k[", "DEF"},
        ReadCase{"BraceIsNoLetter", "[A]\r\nk[=1\r\n", "A", "k{", "DEF"},
        ReadCase{"BlanksTrimmed", kCommon, "General", "logEn", "7"},
        ReadCase{"QuotesGoBlanksInsideStay", kCommon, "General", "Quoted", "  padded  "},
        ReadCase{"UnbalancedQuoteStays", kCommon, "General", "HalfQuoted", "\"open"},
        ReadCase{"LoneQuoteStays", kCommon, "General", "OneQuote", "\""},
        ReadCase{"EmptyValueIsNotTheDefault", kCommon, "General", "Empty", ""},
        ReadCase{"ValueHoldsEquals", kCommon, "General", "Equals", "a=b"},
        ReadCase{"KeyWithInnerBlank", kCommon, "General", "my key", "spaced value"},
        ReadCase{"SectionNameTrimmed", kCommon, "Linea 1", "Linea", "3"},
        ReadCase{"FirstSectionWins", kCommon, "general", "topSpeed", "1"},
        ReadCase{"LaterSection", kCommon, "Other", "only", "here"},
        ReadCase{"MissingKey", kCommon, "General", "absent", "DEF"},
        ReadCase{"MissingSection", kCommon, "Absent", "topSpeed", "DEF"},
        ReadCase{"KeyOfAnotherSection", kCommon, "Linea 1", "topSpeed", "DEF"},
        ReadCase{"LfFile", Lf(kCommon), "general", "my KEY", "spaced value"},
        ReadCase{"LfFileQuoted", Lf(kCommon), "General", "Quoted", "  padded  "},
        ReadCase{"NoFinalBreak", "[A]\r\nk=last", "A", "k", "last"},
        ReadCase{"SingleQuotesGo", "[A]\r\nk='1'\r\n", "A", "k", "1"},
        ReadCase{"MixedQuotesStay", "[A]\r\nk='1\"\r\n", "A", "k", "'1\""},
        ReadCase{"InlineCommentIsValue", "[A]\r\nk=1 ; 125k\r\n", "A", "k", "1 ; 125k"},
        ReadCase{"EndOfFileByteGoes", "[A]\r\nk=last\x1A", "A", "k", "last"},
        ReadCase{"EmptyNames", "[]\r\n=v\r\n", "", "", "v"},
        ReadCase{"EmptyFile", "", "A", "k", "DEF"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(ProfileTest, MissingFileGivesTheDefault) {
    TempDir dir;
    EXPECT_EQ(rtl::GetPrivateProfileString("General", "logEn", "99", dir / "none.ini"), "99");
    EXPECT_EQ(rtl::GetPrivateProfileInt("General", "logEn", 99, dir / "none.ini"), 99);
    EXPECT_FALSE(rtl::FileExists(dir / "none.ini"));  // reading creates nothing
}

TEST(ProfileTest, LeadingInt) {
    struct {
        const char* text;
        int expected;  // default -1
    } const cases[] = {
        {"12", 12},   {"  12", 12}, {"12abc", 12}, {"-5", -5}, {"+7", 7}, {"007", 7},
        {"abc", -1},  {"", -1},     {"-", -1},     {"- 5", -1}, {"0x10", 0}, {"3.9", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(rtl::LeadingInt(c.text, -1), c.expected) << "'" << c.text << "'";
}

TEST(ProfileTest, IntegerReads) {
    TempDir dir;
    std::string file = dir / "s.ini";
    ASSERT_TRUE(rtl::WriteWholeFile(file, "[General]\r\nlogDur= 998 days\r\nlogEn=x\r\nq=\"12\"\r\n"));
    EXPECT_EQ(rtl::GetPrivateProfileInt("general", "LOGDUR", 999, file), 998);
    EXPECT_EQ(rtl::GetPrivateProfileInt("General", "logEn", 99, file), 99);
    EXPECT_EQ(rtl::GetPrivateProfileInt("General", "q", 0, file), 12);
    EXPECT_EQ(rtl::GetPrivateProfileInt("General", "absent", -3, file), -3);
    EXPECT_EQ(rtl::TIniFile(file).ReadInteger("General", "logDur", 0), 998);
    EXPECT_EQ(rtl::GetPrivateProfileDecimal("general", "LOGDUR", 999, file), 999) << "not wholly a number";
    EXPECT_EQ(rtl::GetPrivateProfileDecimal("General", "q", 0, file), 12);
    EXPECT_EQ(rtl::GetPrivateProfileDecimal("General", "absent", -3, file), -3);
}

struct WriteCase {
    const char* name;
    const char* before;  // nullptr: no file
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

class ProfileWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWriteTest, RewritesKeepingEveryOtherLine) {
    const WriteCase& c = GetParam();
    TempDir dir;
    std::string file = dir / "s.ini";
    if (c.before != nullptr) {
        ASSERT_TRUE(rtl::WriteWholeFile(file, c.before));
    }
    ASSERT_TRUE(rtl::WritePrivateProfileString(c.section, c.key, c.value, file));
    EXPECT_EQ(rtl::ReadWholeFile(file).value_or("<none>"), c.after);
    EXPECT_EQ(rtl::GetPrivateProfileString(c.section, c.key, "DEF", file), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileWriteTest,
    ::testing::Values(
        WriteCase{"ReplacesInPlace", "; top\r\n[A]\r\nx=1\r\ny=2\r\n; mid\r\n[B]\r\ny=3\r\n", "A", "y", "5",
                  "; top\r\n[A]\r\nx=1\r\ny=5\r\n; mid\r\n[B]\r\ny=3\r\n"},
        WriteCase{"ReplacesFirstOfDuplicates", "[A]\r\ny=1\r\ny=2\r\n", "A", "y", "7", "[A]\r\ny=7\r\ny=2\r\n"},
        WriteCase{"MatchesWithoutCase", "[A]\r\nx=1\r\ntopSpeed=0\r\n", "a", "topSpeed", "1",
                  "[A]\r\nx=1\r\ntopSpeed=1\r\n"},
        WriteCase{"AddsToItsSection", "[A]\r\nx=1\r\n[B]\r\ny=3\r\n", "A", "z", "9",
                  "[A]\r\nx=1\r\nz=9\r\n[B]\r\ny=3\r\n"},
        WriteCase{"AddsToTheLastSection", "[A]\r\nx=1\r\n", "A", "z", "9", "[A]\r\nx=1\r\nz=9\r\n"},
        WriteCase{"WritesIntoTheFirstOfDuplicateSections", "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n", "A", "y", "5",
                  "[A]\r\nx=1\r\ny=5\r\n[B]\r\n[a]\r\ny=2\r\n"},
        WriteCase{"CreatesTheFile", nullptr, "General", "topSpeed", "1", "[General]\r\ntopSpeed=1\r\n"}));

TEST(ProfileTest, CreatesAMissingSectionAtTheEnd) {
    TempDir dir;
    std::string file = dir / "s.ini";
    const std::string before = "; keep me\r\n[A]\r\nx=1\r\n";
    ASSERT_TRUE(rtl::WriteWholeFile(file, before));
    ASSERT_TRUE(rtl::WritePrivateProfileString("New", "k", "v", file));
    std::string after = rtl::ReadWholeFile(file).value_or("");
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_NE(after.find("[New]\r\nk=v\r\n"), std::string::npos) << after;
    EXPECT_EQ(rtl::GetPrivateProfileString("A", "x", "", file), "1");
    EXPECT_EQ(rtl::GetPrivateProfileString("New", "k", "", file), "v");
}

TEST(ProfileTest, WritingAnLfFileEndsTheNewLineWithCrLf) {
    TempDir dir;
    std::string file = dir / "s.ini";
    ASSERT_TRUE(rtl::WriteWholeFile(file, "[A]\nx=1\n[B]\ny=2\n"));
    ASSERT_TRUE(rtl::WritePrivateProfileString("A", "x", "4", file));
    std::string after = rtl::ReadWholeFile(file).value_or("");
    EXPECT_NE(after.find("x=4\r\n"), std::string::npos) << after;
    EXPECT_EQ(rtl::GetPrivateProfileString("A", "x", "", file), "4");
    EXPECT_EQ(rtl::GetPrivateProfileString("B", "y", "", file), "2");
}

TEST(ProfileTest, WritingIntoAMissingFolderFails) {
    TempDir dir;
    EXPECT_FALSE(rtl::WritePrivateProfileString("A", "k", "v", dir / "no\\such\\s.ini"));
    EXPECT_FALSE(rtl::FileExists(dir / "no/such/s.ini"));
}

// Writes that cannot land report it and leave the file as it was: the menu's bus-speed switch
// relies on this to keep the library from restarting at a speed that was never stored.
struct WriteFailure {
    const char* name;
    void (*spoil)(const fs::path& dir, const fs::path& file);
    bool bindsRoot;       // root is refused too
    rlim_t sizeLimit = 0;  // non-zero: the disk is full past this size
};

const WriteFailure kWriteFailures[] = {
    // Caught: the rename over a file without write bits succeeds.
    {"ReadOnlyFile", [](const fs::path&, const fs::path& f) { fs::permissions(f, fs::perms::owner_read); }, true},
    // Caught: the link's own permissions are checked instead of its target's.
    {"LinkToAReadOnlyFile",
     [](const fs::path& dir, const fs::path& f) {
         fs::rename(f, dir / "real.ini");
         fs::permissions(dir / "real.ini", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         fs::create_symlink("real.ini", f);
     },
     true},
    // Caught: a folder standing where the temporary file goes is taken for a written file, or removed.
    {"NoRoomForTheTemporaryFile", [](const fs::path&, const fs::path& f) { fs::create_directory(f.string() + ".tmp~"); },
     true},
    {"ReadOnlyFolder",
     [](const fs::path& dir, const fs::path&) { fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec); },
     false},
    // Caught: a short write or a failed close goes unnoticed.
    {"FullDisk", [](const fs::path&, const fs::path&) {}, true, 8},
};

TEST(ProfileTest, FailedWritesReportItAndLeaveTheFileAsItWas) {
    const std::string before = "[General]\r\ntopSpeed=1\r\nlogEn=0\r\n";
    for (const WriteFailure& c : kWriteFailures) {
        if (!c.bindsRoot && geteuid() == 0) continue;  // permissions do not bind root
        TempDir top;
        const fs::path dir = top.path() / "dist", file = dir / "Morvand.ini";
        fs::create_directory(dir);
        ASSERT_TRUE(rtl::WriteWholeFile(file.string(), before));
        c.spoil(dir, file);
        bool written;
        if (c.sizeLimit != 0) {
            rlimit old{};
            getrlimit(RLIMIT_FSIZE, &old);
            rlimit full = old;
            full.rlim_cur = c.sizeLimit;
            const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
            written = rtl::WritePrivateProfileString("General", "topSpeed", "0", file.string());
            setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, oldSignal);
        } else {
            written = rtl::WritePrivateProfileString("General", "topSpeed", "0", file.string());
        }
        fs::permissions(dir, fs::perms::owner_all);
        EXPECT_FALSE(written) << c.name;
        EXPECT_EQ(rtl::ReadWholeFile(file.string()), before) << c.name;
        EXPECT_EQ(fs::is_directory(file.string() + ".tmp~"), c.name == std::string("NoRoomForTheTemporaryFile"))
            << c.name;
        EXPECT_FALSE(fs::is_regular_file(file.string() + ".tmp~")) << c.name;
    }
}

TEST(ProfileTest, WriteThenReadThroughTheObject) {
    TempDir dir;
    rtl::TIniFile ini(dir / "IN\\TELVOX.ini");  // the system's spelling, folder created first
    ASSERT_TRUE(rtl::CreateDirectory(dir / "IN"));
    ASSERT_TRUE(ini.WriteInteger("Window", "Top", -12));
    ASSERT_TRUE(ini.WriteString("Window", "Name", "Nodes panel"));
    ASSERT_TRUE(ini.WriteInteger("Window", "Top", 40));
    EXPECT_EQ(ini.ReadInteger("WINDOW", "top", 0), 40);
    EXPECT_EQ(ini.ReadString("window", "NAME", ""), "Nodes panel");
    EXPECT_EQ(rtl::ReadWholeFile(dir / "IN/TELVOX.ini").value_or(""), "[Window]\r\nTop=40\r\nName=Nodes panel\r\n");
}

}  // namespace
