// A temporary installation with the menu, the message log and the legend as the program creates
// them: the base directory with the shipped USR and IN files, a working folder (the current
// directory) with Morvand.ini, a board registry listing the simulated board, boxes recorded
// instead of shown. The scheduler is never resumed: Tick runs one pass on a clock the test moves,
// and its refresh reaches the windows through the application's message hook.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "AppStrings.h"
#include "Legend.h"
#include "Menu.h"
#include "Morvand.h"
#include "MsgDecoder.h"
#include "Msgui.h"
#include "Program.h"
#include "RxMsgRing.h"
#include "Schedule.h"
#include "Scheduler.h"
#include "forms/Forms.h"
#include "forms/Keys.h"
#include "forms/Testing.h"
#include "rtl/Clock.h"
#include "rtl/Messages.h"
#include "sim/Network.h"

namespace fs = std::filesystem;

struct Box {
    std::string text, caption;
};

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline TRxMsg Msg(uint32_t id, std::vector<uint8_t> data, uint32_t stamp = 0) {
    TRxMsg m{};
    m.TimeStamp = stamp;
    m.Id = id;
    m.Len = uint8_t(data.size());
    for (size_t i = 0; i < data.size() && i < 8; ++i) m.Data[i] = data[i];
    return m;
}

class LogInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "msglogtestXXXXXX").string();
        root = mkdtemp(pattern.data());
        base = root / "base";
        work = root / "work";
        fs::create_directories(work);
        fs::create_directories(base);
        fs::copy(fs::path(TELVOX_DIST_SOURCE) / "USR", base / "USR", fs::copy_options::recursive);
        fs::copy(fs::path(TELVOX_DIST_SOURCE) / "IN", base / "IN", fs::copy_options::recursive);
        WriteText(work / "Morvand.ini", "[General]\r\ntopSpeed=1\r\nlogEn=0\r\n");
        WriteText(root / "Xat11reg.reg", "simulated 0\n");
        setenv("XAT11REG_FILE", (root / "Xat11reg.reg").c_str(), 1);
        fs::current_path(work);
        net->SetTimeMode(sim::TimeMode::Manual);
        sim::Network::Install(net);

        static int argc = 1;
        static char name[] = "windows_msglog_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<forms::TApplication>(argc, argv);
        InstallApplicationHooks(*app);
        previousBox = rtl::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int) {
            boxes.push_back({text, caption});
            return rtl::IDOK;
        });
        ScheduleGlobalsInit();
        previousSource = std::exchange(BaseDirSource, [this] { return base.string() + "/"; });
        _CmdLineData::Flags = 0;
        RxMsgRing.Run();
        RxMsgRing.Clear();
    }

    void TearDown() override {
        ScheduleShutdown();
        _DestroyCANThread();
        ScheduleGlobalsExit();
        rtl::SetMessageBoxHandler(previousBox);
        app.reset();
        MenuForm = nullptr;
        RemoveApplicationHooks();
        BaseDirSource = previousSource;
        sim::Network::Install(nullptr);
        unsetenv("XAT11REG_FILE");
        fs::current_path(previous);
        fs::remove_all(root);
        RxMsgRing.Run();
        RxMsgRing.Clear();
    }

    fs::path root, base, work, previous;
    std::shared_ptr<sim::Network> net = std::make_shared<sim::Network>();
    std::unique_ptr<forms::TApplication> app;
    std::vector<Box> boxes;
    rtl::MessageBoxHandler previousBox;
    std::function<std::string()> previousSource;
};

// The objects the windows work with; the library only where a test starts it.
class LogTest : public LogInstallTest {
protected:
    void SetUp() override {
        LogInstallTest::SetUp();
        BaseDir = base.string() + "/";
        AppStr = std::make_unique<TAppStrings>("USR\\AppStr.cfg");
        ASSERT_TRUE(AppStr->Load());
        InvalidateList = std::make_unique<TFuncPtrList>();
        RefreshList = std::make_unique<TFuncPtrList>();
        Scheduler = std::make_unique<TScheduler>(true);
    }

    // The windows as start-up creates them; the log opened from the menu with F5.
    TMsgUIForm& Open() {
        app->CreateForm(MenuForm);
        app->CreateForm(MsgUIForm);
        app->CreateForm(LegendForm);
        forms::drive::Activate(*MenuForm);
        forms::drive::PressKey(*MenuForm, forms::VK_F5);
        app->ProcessMessages();
        return *MsgUIForm;
    }
    void Press(uint16_t key) {
        forms::drive::PressKey(*MsgUIForm, key);
        app->ProcessMessages();
    }
    // Moves the clock and runs a scheduler pass; its refresh reaches the windows.
    void Tick(uint32_t ms = 150) {
        clock.Advance(ms);
        Scheduler->Pass();
        app->ProcessMessages();
    }
    // n frames of the capture, identifiers id, id + 1, ...
    void Put(int n, uint32_t id = 0x101) {
        for (int i = 0; i < n; ++i) RxMsgRing.Capture(Msg(id + uint32_t(i) % 0x600, {uint8_t(i), 2, 3}, stamp += 25));
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (int i = 0; i < MsgUIForm->MSGWin.LineCount(); ++i) lines.push_back(MsgUIForm->MSGWin.Line(i));
        return lines;
    }
    // The memo lines of one record: a decoded status or command line takes two.
    static std::vector<std::string> Split(const std::string& text) {
        std::vector<std::string> lines;
        size_t from = 0;
        for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
            lines.push_back(text.substr(from, at - from));
        lines.push_back(text.substr(from));
        return lines;
    }
    static std::string Raw(uint16_t slot) { return RawMsgText(RxMsgRing, slot); }

    uint32_t stamp = 1000;
    rtl::ManualClock clock{50'000};
    rtl::ScopedClock scopedClock{clock};
};
