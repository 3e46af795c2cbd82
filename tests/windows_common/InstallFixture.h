// A temporary installation for the window tests: the base directory with the shipped USR and IN
// files, a working folder (the current directory) with Morvand.ini, a board registry listing the
// simulated board, the simulated network (run by the test unless a fixture lets it run in real
// time), the application with the program's hooks, and boxes recorded instead of shown. Fixtures
// add their nodes to net in their constructors.
#pragma once
#include <QImage>
#include <QTimer>
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "AppStrings.h"
#include "Dwload.h"
#include "Editpar.h"
#include "Legend.h"
#include "Menu.h"
#include "Morvand.h"
#include "Msgui.h"
#include "Program.h"
#include "Schedule.h"
#include "Scheduler.h"
#include "Tree.h"
#include "Ui.h"
#include "forms/Forms.h"
#include "forms/Testing.h"
#include "rtl/Messages.h"
#include "sim/Network.h"

namespace fs = std::filesystem;

struct Box {
    std::string text, caption;
    int flags = 0;
};

// One row of the parameter-row file in its fixed columns.
inline std::string UiRow(const std::string& name, int decimals, const std::string& type, int min, int max,
                         int address) {
    char line[128];
    std::snprintf(line, sizeof line, "%-18s%-11s %-7d %-7s %-4d %-8d %-8d %d\r\n", name.c_str(), "", decimals,
                  type.c_str(), 0, min, max, address);
    return line;
}

class InstallTest : public ::testing::Test {
protected:
    InstallTest() { net->SetTimeMode(sim::TimeMode::Manual); }

    void SetUp() override {
        previous = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / program_invocation_short_name).string() + "XXXXXX";
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
        sim::Network::Install(net);

        static int argc = 1;
        static char* argv[] = {program_invocation_name, nullptr};
        app = std::make_unique<forms::TApplication>(argc, argv);
        InstallApplicationHooks(*app);
        previousBox = rtl::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int flags) {
            boxes.push_back({text, caption, flags});
            return boxAnswer;
        });
        ScheduleGlobalsInit();
        previousSource = std::exchange(BaseDirSource, [this] { return base.string() + "/"; });
        BaseDir = base.string() + "/";
        _CmdLineData::Flags = 0;
    }

    // The program's main routine with `step` run every 10 ms on the GUI thread; the application is
    // ended after 20 s, which only keeps a failing test from hanging.
    int RunProgram(const std::function<void()>& step) {
        int waited = 0;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if ((waited += 10) > 20000) return app->Terminate();
            step();
        });
        poll.start(10);
        return WinMain();
    }

    void TearDown() override {
        // As the program ends: shutdown while the windows still exist, then the application.
        ScheduleShutdown();
        _DestroyCANThread();
        ScheduleGlobalsExit();
        _CmdLineData::Flags = 0;
        rtl::SetMessageBoxHandler(previousBox);
        app.reset();
        // The windows went with the application (the program's main routine makes them all).
        MenuForm = nullptr;
        EditParForm = nullptr;
        NodesUIForm = nullptr;
        TreeUIForm = nullptr;
        MsgUIForm = nullptr;
        DwldUIForm = nullptr;
        LegendForm = nullptr;
        RemoveApplicationHooks();
        BaseDirSource = previousSource;
        sim::Network::Install(nullptr);
        unsetenv("XAT11REG_FILE");
        fs::current_path(previous);
        fs::remove_all(root);
    }

    // What start-up makes that every window needs: the string table, the callback lists, and a
    // scheduler that is never resumed (the test runs its passes).
    void MakeWindowObjects() {
        AppStr = std::make_unique<TAppStrings>("USR\\AppStr.cfg");
        ASSERT_TRUE(AppStr->Load());
        InvalidateList = std::make_unique<TFuncPtrList>();
        RefreshList = std::make_unique<TFuncPtrList>();
        Scheduler = std::make_unique<TScheduler>(true);
    }

    // The form as the screen shows it, read back from the installation's own folder: a suite of
    // another build may be taking the same picture at the same time. A copy to look at goes to the
    // temporary folder as telvox_<name>.png. Null when it could not be saved.
    QImage Screenshot(forms::TForm& form, const std::string& name) const {
        const fs::path shot = root / (name + ".png");
        if (!forms::drive::SaveScreenshot(form, shot.string())) return {};
        std::error_code ignored;
        fs::copy_file(shot, fs::temp_directory_path() / ("telvox_" + name + ".png"), fs::copy_options::overwrite_existing,
                      ignored);
        return QImage(QString::fromStdString(shot.string()));
    }

    fs::path root, base, work, previous;
    std::shared_ptr<sim::Network> net = std::make_shared<sim::Network>();
    std::unique_ptr<forms::TApplication> app;
    std::vector<Box> boxes;
    int boxAnswer = rtl::IDOK;  // what every box answers
    rtl::MessageBoxHandler previousBox;
    std::function<std::string()> previousSource;
};
