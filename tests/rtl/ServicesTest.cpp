#include "rtl/Files.h"
#include "rtl/Library.h"
#include "rtl/Messages.h"
#include "rtl/VersionInfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

TEST(MessagesTest, BoxesGoToTheInstalledHandler) {
    EXPECT_EQ(rtl::MessageBox("no handler", "TEST", rtl::MB_YESNO), rtl::IDOK);
    std::vector<std::string> shown;
    rtl::SetMessageBoxHandler([&](const std::string& text, const std::string& caption, int flags) {
        shown.push_back(caption + ":" + text + ":" + std::to_string(flags));
        return rtl::IDNO;
    });
    EXPECT_EQ(rtl::MessageBox("Sure?", "ATTENZIONE", rtl::MB_YESNO | rtl::MB_ICONQUESTION), rtl::IDNO);
    auto previous = rtl::SetMessageBoxHandler([](const std::string&, const std::string&, int) { return rtl::IDCANCEL; });
    EXPECT_EQ(rtl::MessageBox("x", "y", rtl::MB_OKCANCEL), rtl::IDCANCEL);  // replaced
    ASSERT_TRUE(previous);
    EXPECT_EQ(previous("a", "b", 0), rtl::IDNO);  // the old handler was handed back
    rtl::SetMessageBoxHandler(nullptr);
    EXPECT_EQ(rtl::MessageBox("no handler again", "TEST", rtl::MB_OK), rtl::IDOK);
    EXPECT_EQ(shown, (std::vector<std::string>{"ATTENZIONE:Sure?:36", "b:a:0"}));
}

TEST(MessagesTest, PostsGoToTheInstalledHandler) {
    int window = 0;
    EXPECT_FALSE(rtl::PostMessage(&window, rtl::WM_USER + 102, 0, 0));  // nobody to take it
    std::vector<std::pair<uint32_t, uintptr_t>> posted;
    rtl::SetPostMessageHandler([&](rtl::HWND w, uint32_t msg, uintptr_t wp, intptr_t lp) {
        EXPECT_EQ(w, &window);
        EXPECT_EQ(lp, -1);
        posted.emplace_back(msg, wp);
        return msg != rtl::WM_USER + 101;  // refuses one kind
    });
    EXPECT_TRUE(rtl::PostMessage(&window, rtl::WM_USER + 201, 3, -1));
    EXPECT_FALSE(rtl::PostMessage(&window, rtl::WM_USER + 101, 0, -1));
    auto previous = rtl::SetPostMessageHandler(nullptr);
    EXPECT_TRUE(previous);
    EXPECT_FALSE(rtl::PostMessage(&window, rtl::WM_USER + 102, 0, 0));
    EXPECT_EQ(posted, (std::vector<std::pair<uint32_t, uintptr_t>>{{0x4C9, 3}, {0x465, 0}}));
}

TEST(LibraryTest, LoadsByWindowsNameBesideTheProgram) {
    EXPECT_EQ(rtl::LoadLibrary("NoSuchLibrary.dll"), nullptr);
    rtl::HMODULE probe = rtl::LoadLibrary("RtlProbe.dll");
    ASSERT_NE(probe, nullptr);
    auto answer = reinterpret_cast<int (*)()>(rtl::GetProcAddress(probe, "RtlProbeAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(rtl::GetProcAddress(probe, "NoSuchFunction"), nullptr);
    EXPECT_TRUE(rtl::FreeLibrary(probe));
    EXPECT_FALSE(rtl::FreeLibrary(nullptr));
}

TEST(LibraryTest, AnOverrideOpensTheGivenFile) {
    rtl::SetLibraryOverride("NoSuchLib.dll", rtl::ExecutableDir() + "libRtlProbe.so");
    rtl::HMODULE h = rtl::LoadLibrary("NoSuchLib.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_NE(rtl::GetProcAddress(h, "RtlProbeAnswer"), nullptr);
    rtl::FreeLibrary(h);
    rtl::SetLibraryOverride("NoSuchLib.dll", "");
    EXPECT_EQ(rtl::LoadLibrary("NoSuchLib.dll"), nullptr);  // nothing of that name anywhere

    rtl::SetLibraryOverride("Broken.dll", rtl::ExecutableDir() + "missing.so");
    EXPECT_EQ(rtl::LoadLibrary("Broken.dll"), nullptr);
    rtl::SetLibraryOverride("Broken.dll", "");
}

TEST(VersionInfoTest, TheProgramsProductVersion) {
    const std::string self = rtl::ExecutableDir() + "rtl_tests";
    uint32_t handle = 99;
    uint32_t size = rtl::GetFileVersionInfoSize(self, &handle);
    ASSERT_NE(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(rtl::GetFileVersionInfo(self, handle, size, block.data()));

    void* buffer = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(rtl::VerQueryValue(block.data(), "\\VarFileInfo\\Translation", &buffer, &length));
    ASSERT_GE(length, 4u);
    auto* translation = static_cast<const uint16_t*>(buffer);
    char sub[64];
    std::snprintf(sub, sizeof sub, "\\StringFileInfo\\%04X%04X\\ProductVersion", translation[0], translation[1]);
    ASSERT_TRUE(rtl::VerQueryValue(block.data(), sub, &buffer, &length));
    EXPECT_NE(length, 0u);
    EXPECT_STREQ(static_cast<const char*>(buffer), "1.6");
    EXPECT_FALSE(rtl::VerQueryValue(block.data(), "\\StringFileInfo\\00000000\\ProductVersion", &buffer, &length));
}

TEST(VersionInfoTest, OtherFilesHaveNone) {
    uint32_t handle = 0;
    EXPECT_EQ(rtl::GetFileVersionInfoSize("/bin/sh", &handle), 0u);
    EXPECT_EQ(rtl::GetFileVersionInfoSize(rtl::ExecutableDir() + "no_such_program", &handle), 0u);
}

}  // namespace
