#include "rtl/Files.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

TEST(FilesTest, NativePathMapsBackslashes) {
    struct {
        const char* system;
        const char* native;
    } const cases[] = {
        {"USR\\AppStr.cfg", "USR/AppStr.cfg"},
        {"..\\data\\nodes\\nd_0.ncf", "../data/nodes/nd_0.ncf"},
        {"plain/path.txt", "plain/path.txt"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(rtl::NativePath(c.system), c.native) << c.system;
}

TEST(FilesTest, TheSystemsSpellingReachesTheFile) {
    TempDir dir;
    ASSERT_TRUE(rtl::CreateDirectory(dir / "USR"));
    ASSERT_TRUE(rtl::WriteWholeFile(dir / "USR\\AppStr.cfg", "x"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "USR" / "AppStr.cfg"));
    EXPECT_TRUE(rtl::FileExists(dir / "USR//AppStr.cfg"));
    EXPECT_EQ(rtl::FileSize(dir / "USR\\AppStr.cfg"), 1);
}

TEST(FilesTest, CopyFile) {
    struct {
        const char* name;
        bool sourceExists;
        bool targetExists;
        bool failIfExists;
        bool result;
        const char* target;  // afterwards; nullptr: absent
    } const cases[] = {
        {"NewTarget", true, false, true, true, "source"},
        {"TargetKeptWhenFailIfExists", true, true, true, false, "target"},
        {"TargetReplaced", true, true, false, true, "source"},
        {"NoSource", false, false, false, false, nullptr},
        {"NoSourceTargetKept", false, true, false, false, "target"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        if (c.sourceExists) {
            ASSERT_TRUE(rtl::WriteWholeFile(dir / "s", "source"));
        }
        if (c.targetExists) {
            ASSERT_TRUE(rtl::WriteWholeFile(dir / "t", "target"));
        }
        EXPECT_EQ(rtl::CopyFile(dir / "s", dir / "t", c.failIfExists), c.result) << c.name;
        auto target = rtl::ReadWholeFile(dir / "t");
        if (c.target == nullptr) {
            EXPECT_FALSE(target.has_value()) << c.name;
        } else {
            EXPECT_EQ(target.value_or("<none>"), c.target) << c.name;
        }
    }
}

TEST(FilesTest, ReadWholeFileAndSize) {
    TempDir dir;
    EXPECT_EQ(rtl::ReadWholeFile(dir / "missing"), std::nullopt);
    EXPECT_EQ(rtl::FileSize(dir / "missing"), -1);
    const std::string bytes("a\r\nb\0c\xB0\n", 8);  // kept byte for byte
    ASSERT_TRUE(rtl::WriteWholeFile(dir / "f", bytes));
    EXPECT_EQ(rtl::ReadWholeFile(dir / "f"), bytes);
    EXPECT_EQ(rtl::FileSize(dir / "f"), 8);
    ASSERT_TRUE(rtl::WriteWholeFile(dir / "f", "short"));  // replaces, not overlays
    EXPECT_EQ(rtl::ReadWholeFile(dir / "f"), "short");
    ASSERT_TRUE(rtl::WriteWholeFile(dir / "empty", ""));
    EXPECT_EQ(rtl::ReadWholeFile(dir / "empty"), "");
    EXPECT_EQ(rtl::FileSize(dir / "empty"), 0);
}

TEST(FilesTest, WriteWholeFileReportsAFailedReplace) {
    TempDir dir;
    ASSERT_TRUE(rtl::CreateDirectory(dir / "OUT"));
    EXPECT_FALSE(rtl::WriteWholeFile(dir / "OUT", "x"));  // a folder stands where the file would go
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "OUT.tmp~"));
    EXPECT_FALSE(rtl::WriteWholeFile(dir / "no/such/folder/f", "x"));
}

TEST(FilesTest, WriteWholeFileWritesThroughLinksAndKeepsThePermissions) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        const char* link;  // to the file, beside it or from another folder; nullptr: none
        bool targetExists;
        fs::perms mode;
    } cases[] = {
        {"Plain", nullptr, true, fs::perms::owner_read | fs::perms::owner_write},
        {"LinkBeside", "real.ini", true, fs::perms::owner_read | fs::perms::owner_write},
        {"LinkFromAFolder", "../real.ini", true, fs::perms::owner_all | fs::perms::group_read},
        {"DanglingLink", "real.ini", false, fs::perms::none},
    };
    for (const auto& c : cases) {
        TempDir dir;
        fs::create_directory(dir.path() / "IN");
        const fs::path real = dir.path() / "real.ini";
        const fs::path named = c.link ? dir.path() / (c.link[0] == '.' ? "IN/s.ini" : "s.ini") : real;
        if (c.targetExists) {
            ASSERT_TRUE(rtl::WriteWholeFile(real.string(), "old"));
            fs::permissions(real, c.mode);
        }
        if (c.link) fs::create_symlink(c.link, named);
        ASSERT_TRUE(rtl::WriteWholeFile(named.string(), "new")) << c.name;
        EXPECT_EQ(fs::is_symlink(named), c.link != nullptr) << c.name;
        EXPECT_EQ(rtl::ReadWholeFile(real.string()), "new") << c.name;
        if (c.targetExists) {
            EXPECT_EQ(fs::status(real).permissions(), c.mode) << c.name;
        }
        EXPECT_FALSE(fs::exists(real.string() + ".tmp~")) << c.name;
    }
}

TEST(FilesTest, AppendCreatesThenAppends) {
    TempDir dir;
    ASSERT_TRUE(rtl::AppendToFile(dir / "log.txt", "one\r\n"));
    ASSERT_TRUE(rtl::AppendToFile(dir / "log.txt", "two\r\n"));
    EXPECT_EQ(rtl::ReadWholeFile(dir / "log.txt"), "one\r\ntwo\r\n");
    EXPECT_FALSE(rtl::AppendToFile(dir / "no/such/folder/log.txt", "x"));
}

TEST(FilesTest, ExistsDeleteAndCreateDirectory) {
    TempDir dir;
    EXPECT_FALSE(rtl::FileExists(dir / "f"));
    EXPECT_FALSE(rtl::DeleteFile(dir / "f"));
    ASSERT_TRUE(rtl::WriteWholeFile(dir / "f", "x"));
    EXPECT_TRUE(rtl::FileExists(dir / "f"));
    EXPECT_TRUE(rtl::DeleteFile(dir / "f"));
    EXPECT_FALSE(rtl::FileExists(dir / "f"));
    EXPECT_TRUE(rtl::CreateDirectory(dir / "OUT"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "OUT"));
}

TEST(FilesTest, ExecutableDirHoldsTheRunningProgram) {
    std::string dir = rtl::ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(std::filesystem::canonical(dir + "rtl_tests"), std::filesystem::canonical("/proc/self/exe"));
}

}  // namespace
