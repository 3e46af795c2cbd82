// White-box fixture: the library's objects linked into the test with the board and log stand-ins,
// the test registry and a manual clock. The static database is cleared before each test.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "FakeBoard.h"
#include "Protocol.h"
#include "rtl/Clock.h"
#include "rtl/Library.h"

inline void ClearDatabase() {
    for (auto& r : NodeRecords)
        for (auto& u : r.Unit) u.store(0);
    for (auto* words : {AliveBits, OperationalBits})
        for (int i = 0; i < 7; ++i) words[i].store(0);
    for (auto& u : SystemValues) u.store(0);
    CommandBlock.Target.store(0);
    for (auto& u : CommandBlock.Mirror) u.store(0);
    for (auto& m : PendingMarks) m = 0;
    for (auto& v : ParameterValues) v = 0;
    for (auto& b : CommandFrameData) b = 0;
    SdoTransactionNode.store(0);
    LastSdoReply.Store({});
    for (auto& f : ChangeFlags) f = 0;
}

// Waits (bounded) until the condition holds; the bound only keeps a failing test from hanging.
inline bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 5000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

// A manual clock that runs an action at its next reading: another thread's work falling between
// two steps of the reader.
class HookClock : public rtl::ManualClock {
public:
    void AtNextRead(std::function<void()> action) {
        action_ = std::move(action);
        armed_.store(true);
    }
    uint64_t SystemTime() override {
        if (armed_.exchange(false)) action_();
        return ManualClock::SystemTime();
    }

private:
    std::function<void()> action_;
    std::atomic<bool> armed_{false};
};

class MorvandTest : public ::testing::Test {
protected:
    HookClock clock;
    rtl::ScopedClock scopedClock{clock};

    void SetUp() override {
        ResetBoard();
        ClearLog();
        ClearDatabase();
        UseRegistry(FAKE_XAT_FULL);
        setenv("FAKE_XAT_BOARD", "1,0", 1);
        unsetenv("FAKE_XAT_CHECK");
    }
    void TearDown() override {
        _DestroyCANThread();
        rtl::SetLibraryOverride("Xat11reg.dll", "");
    }
    static void UseRegistry(const char* path) { rtl::SetLibraryOverride("Xat11reg.dll", path); }
    static TProtocol& Instance() { return *Protocol.load(); }
};
