// A temporary installation for the program's start-up and its poller: a base directory with the
// shipped USR and IN files, a working folder (the current directory) with Morvand.ini, a board
// registry that lists the simulated board, and a simulated network whose time the test advances.
// The form layer's hooks are recorded: posted messages, boxes and termination requests.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestFiles.h"
#include "CoreFixture.h"
#include "RxMsgRing.h"
#include "Schedule.h"
#include "rtl/Messages.h"
#include "sim/Network.h"

namespace fs = std::filesystem;

// Waits (bounded) until the condition holds; the bound only keeps a failing test from hanging.
inline bool Eventually(const std::function<bool()>& condition, int ms = 10000) {
    for (int i = 0; i < ms; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

struct Posted {
    rtl::HWND window;
    uint32_t msg;
};

inline sim::NodeConfig SimNode(uint8_t number, sim::Time heartbeatPeriod = 1000 * sim::kMs) {
    sim::NodeConfig c;
    c.number = number;
    c.heartbeatPeriod = heartbeatPeriod;
    return c;
}

class Installation : public ::testing::Test {
public:
    fs::path root, base, work, previous;
    std::shared_ptr<sim::Network> net = std::make_shared<sim::Network>();
    BoxRecorder boxes;
    int terminateRequests = 0;
    int windowTag = 0;  // its address is the application window's handle

    void SetUp() override {
        previous = fs::current_path();
        char pattern[] = "/tmp/appinstXXXXXX";
        root = mkdtemp(pattern);
        base = root / "base";
        work = root / "work";
        fs::create_directories(work);
        fs::create_directories(base);
        fs::copy(fs::path(TELVOX_DIST_SOURCE) / "USR", base / "USR", fs::copy_options::recursive);
        fs::copy(fs::path(TELVOX_DIST_SOURCE) / "IN", base / "IN", fs::copy_options::recursive);
        MorvandIni("[General]\r\ntopSpeed=1\r\nlogEn=1\r\nlogDur=0\r\n");
        WriteText(root / "Xat11reg.reg", "simulated 0\n");
        setenv("XAT11REG_FILE", (root / "Xat11reg.reg").c_str(), 1);
        fs::current_path(work);

        net->SetTimeMode(sim::TimeMode::Manual);
        sim::Network::Install(net);

        ScheduleGlobalsInit();
        previousSource_ = std::exchange(BaseDirSource, [this] { return base.string() + "/"; });
        AppWindowHandle = &windowTag;
        RequestTerminate = [this] { ++terminateRequests; };
        previousPost_ = rtl::SetPostMessageHandler([this](rtl::HWND w, uint32_t msg, uintptr_t, intptr_t) {
            std::lock_guard lock(postLock_);
            posted_.push_back({w, msg});
            return true;
        });
        RxMsgRing.Clear();
        RxMsgRing.Run();
    }
    void TearDown() override {
        ScheduleShutdown();
        ScheduleGlobalsExit();
        _DestroyCANThread();
        rtl::SetPostMessageHandler(previousPost_);
        RequestTerminate = nullptr;
        AppWindowHandle = nullptr;
        BaseDirSource = previousSource_;
        sim::Network::Install(nullptr);
        sim::Network::SetDescriptionPath("");
        unsetenv("XAT11REG_FILE");
        fs::current_path(previous);
        fs::remove_all(root);
    }

    void MorvandIni(const std::string& text) { WriteText(work / "Morvand.ini", text); }
    std::vector<Posted> TakePosted() {
        std::lock_guard lock(postLock_);
        return std::exchange(posted_, {});
    }
    size_t PostedCount(uint32_t msg) {
        std::lock_guard lock(postLock_);
        size_t n = 0;
        for (const Posted& p : posted_) n += p.msg == msg;
        return n;
    }
    // Every line of every log file under the base directory (the log server has ended).
    std::string LogText() const {
        std::string all;
        for (const auto& e : fs::directory_iterator(base))
            if (e.path().extension() == ".log") all += ReadText(e.path());
        return all;
    }
    std::vector<std::string> LogFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(base))
            if (e.path().extension() == ".log") names.push_back(e.path().filename().string());
        return names;
    }

private:
    std::mutex postLock_;
    std::vector<Posted> posted_;
    rtl::PostMessageHandler previousPost_;
    std::function<std::string()> previousSource_;
};
