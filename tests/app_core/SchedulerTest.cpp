// The scheduler's passes (driven one by one on a manual clock), its thread and end handler, and the
// application message handler.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <deque>

#include "CoreFixture.h"
#include "InstallFixture.h"
#include "Scheduler.h"
#include "logserver/Pelkin.h"
#include "rtl/Clock.h"

namespace {

constexpr uint32_t kSysKeyDown = 0x0104, kKeyDown = 0x0100;
constexpr uintptr_t kF4 = 0x73, kF3 = 0x72;

// A scheduler that never runs its thread: the test calls Pass itself.
class SchedulerPass : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        AppWindowHandle = &windowTag;
        previous_ = rtl::SetPostMessageHandler([this](rtl::HWND w, uint32_t msg, uintptr_t, intptr_t) {
            EXPECT_EQ(w, &windowTag);
            posts.push_back(msg);
            return true;
        });
        scheduler = std::make_unique<TScheduler>(true);
        scheduler->AddEntry({[](void* calls) { ++*static_cast<int*>(calls); }, &entryCalls});
    }
    void TearDown() override {
        scheduler.reset();
        rtl::SetPostMessageHandler(previous_);
        AppWindowHandle = nullptr;
    }
    // The messages of one pass at the given tick.
    std::vector<uint32_t> PassAt(uint32_t tick) {
        clock.SetTick(tick);
        posts.clear();
        scheduler->Pass();
        return posts;
    }

    rtl::ManualClock clock{1000};
    rtl::ScopedClock scoped{clock};
    int windowTag = 0;
    int entryCalls = 0;
    std::vector<uint32_t> posts;
    std::unique_ptr<TScheduler> scheduler;

private:
    rtl::PostMessageHandler previous_;
};

using Msgs = std::vector<uint32_t>;

TEST_F(SchedulerPass, FirstPassPostsBothAndRunsTheEntry) {
    EXPECT_EQ(SysTick.load(), 1000u) << "the constructor reads the tick";
    EXPECT_EQ(PassAt(1000), (Msgs{UM_TICK500, UM_REFRESH}));
    EXPECT_EQ(entryCalls, 1);
    EXPECT_EQ(SysTick.load(), 1000u);
}

TEST_F(SchedulerPass, PeriodsAreNeverBelow101And501) {
    PassAt(1000);
    struct Step {
        uint32_t tick;
        Msgs expected;
    };
    const Step steps[] = {
        {1050, {}},
        {1100, {}},                        // not strictly greater than 1000 + 100
        {1101, {UM_REFRESH}},              // next deadline 1201
        {1201, {}},
        {1205, {UM_REFRESH}},              // late pass: next deadline counts from 1205
        {1306, {UM_REFRESH}},
        {1500, {UM_REFRESH}},              // 1500 is not past 1000 + 500
        {1501, {UM_TICK500}},              // refresh deadline 1600
        {1601, {UM_REFRESH}},
        {2001, {UM_REFRESH}},              // 1501 + 500 not passed
        {2002, {UM_TICK500}},
    };
    for (const Step& s : steps) EXPECT_EQ(PassAt(s.tick), s.expected) << "tick " << s.tick;
    EXPECT_EQ(entryCalls, 12);
}

TEST_F(SchedulerPass, FramesComingFastShortenTheRestUntilQuiet) {
    uint32_t frames = 0;
    scheduler->AddEntry({[](void* n) { DrainedFrames += *static_cast<uint32_t*>(n); }, &frames});
    PassAt(1000);  // refresh deadline 1100
    struct Row {
        uint32_t tick, frames, rest;
    };
    const Row rows[] = {
        {1004, 0, 4},
        {1008, 3, 4},  // below one a millisecond
        {1012, 4, 1},  // one a millisecond
        {1013, 0, 1},  // a quiet drain right after keeps the short rest
        {1014, 1, 1},  // short rest held until 1024
        {1023, 0, 1},
        {1024, 0, 4},  // quiet for 10 ms
        {1030, 19, 1},
        {1040, 0, 4}, {1050, 0, 4}, {1060, 0, 4}, {1070, 0, 4}, {1080, 0, 4}, {1090, 0, 4},  // on time
        {1099, 0, 2},  // never past the next refresh
        {1115, 0, 1},  // 16 ms late: a stall, the board has frames in hand
        {1125, 0, 4},
    };
    for (const Row& r : rows) {
        frames = r.frames;
        clock.SetTick(r.tick);
        EXPECT_EQ(scheduler->Pass(), r.rest) << "tick " << r.tick;
    }
}

TEST_F(SchedulerPass, NearTheTickWrapTheDeadlineWrapsAndEveryPassPosts) {
    PassAt(0xFFFFFF00u);  // deadlines 0xFFFFFF64 and, wrapped, 0xF4
    EXPECT_EQ(PassAt(0xFFFFFF50u), Msgs{UM_TICK500});
    EXPECT_EQ(PassAt(0xFFFFFFA0u), (Msgs{UM_TICK500, UM_REFRESH})) << "refresh deadline wraps to 4";
    EXPECT_EQ(PassAt(0xFFFFFFA1u), (Msgs{UM_TICK500, UM_REFRESH}));
    EXPECT_EQ(PassAt(0xFFFFFFFFu), (Msgs{UM_TICK500, UM_REFRESH}));
    EXPECT_EQ(PassAt(2u), Msgs{}) << "the counter wrapped: deadlines 99 and 499 lie ahead";
    EXPECT_EQ(PassAt(100u), Msgs{UM_REFRESH});
    EXPECT_EQ(PassAt(500u), (Msgs{UM_TICK500, UM_REFRESH}));
}

TEST_F(SchedulerPass, PausedSkipsEntriesOnly) {
    PassAt(1000);
    scheduler->Paused = 1;
    clock.SetSystemTime(clock.SystemTime() + 10'000'000ull * 3600);  // one hour on
    EXPECT_EQ(PassAt(1200), Msgs{UM_REFRESH});
    EXPECT_EQ(PassAt(1600), (Msgs{UM_TICK500, UM_REFRESH}));
    EXPECT_EQ(entryCalls, 1);
    EXPECT_EQ(SysTick.load(), 1600u);
    EXPECT_EQ(TimeText.Get(), "05:26:40");
    scheduler->Paused = 0;
    PassAt(1601);
    EXPECT_EQ(entryCalls, 2);
}

TEST_F(SchedulerPass, DateAndTimeTexts) {
    struct Case {
        uint64_t unixSeconds;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {1655526400, "18/06/2022", "04:26:40"},
        {946684799, "31/12/1999", "23:59:59"},
        {1704070983, "01/01/2024", "01:03:03"},
    };
    for (const Case& c : cases) {
        clock.SetSystemTime((c.unixSeconds + 11'644'473'600ull) * 10'000'000ull);
        scheduler->Pass();
        EXPECT_EQ(DateText.Get(), c.date);
        EXPECT_EQ(TimeText.Get(), c.time);
    }
}

// --- the thread and its end handler

class SchedulerThread : public ::testing::Test {
protected:
    TempBase dir;
    void SetUp() override { _PELKINCreate(dir.Dir().c_str(), "LOG", 0); }
    void TearDown() override { _PELKINDestroy(); }
    std::string Log() {
        _PELKINEnd();
        return dir.Read("LOG.log");
    }
};

TEST_F(SchedulerThread, RunsEntriesOnItsOwnThreadAndFreesThemAtTheEnd) {
    std::atomic<int> calls{0};
    std::atomic<bool> otherThread{false};
    struct Probe {
        std::atomic<int>* calls;
        std::atomic<bool>* otherThread;
        std::thread::id gui;
    } probe{&calls, &otherThread, std::this_thread::get_id()};
    TScheduler scheduler(true);
    scheduler.AddEntry({[](void* p) {
                            auto* probe = static_cast<Probe*>(p);
                            if (std::this_thread::get_id() != probe->gui) *probe->otherThread = true;
                            ++*probe->calls;
                        },
                        &probe});
    scheduler.AddEntry({nullptr, nullptr});
    EXPECT_EQ(scheduler.EntryCount(), 2u);
    scheduler.Resume();
    EXPECT_TRUE(Eventually([&] { return calls.load() >= 3; }));
    scheduler.Terminate();
    scheduler.WaitFor();
    EXPECT_TRUE(otherThread);
    EXPECT_EQ(scheduler.EntryCount(), 0u) << "the end handler freed the entries";
    const int after = calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(calls.load(), after);
    const std::string log = Log();
    const auto start = log.find("Scheduler start event"), end = log.find("Scheduler on terminate event");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LT(start, end);
}

// Rests move a manual clock instead of passing: the thread's passes come at the ticks its rests say.
class ClockedScheduler : public TScheduler {
public:
    explicit ClockedScheduler(rtl::ManualClock& clock) : TScheduler(true), clock_(clock) {}
    ~ClockedScheduler() override { Finish(); }
    int passes = 0;               // counted by the entry
    std::vector<uint32_t> rests;  // read once the thread ended

protected:
    void Rest(uint32_t ms) override {
        rests.push_back(ms);
        clock_.Advance(ms);
    }

private:
    rtl::ManualClock& clock_;
};

TEST_F(SchedulerThread, RestsAsThePaceSays) {
    rtl::ManualClock clock{1000};
    rtl::ScopedClock scoped{clock};
    ClockedScheduler scheduler(clock);
    // The first three passes drain a full ring; the fifteenth ends the thread.
    scheduler.AddEntry({[](void* p) {
                            auto& s = *static_cast<ClockedScheduler*>(p);
                            if (++s.passes <= 3) DrainedFrames += 19;
                            if (s.passes == 15) s.Terminate();
                        },
                        &scheduler});
    scheduler.Resume();
    scheduler.WaitFor();
    std::vector<uint32_t> expected(15, TPassPace::FastMs);  // from the second pass to 10 ms after the last drain
    expected[0] = expected[12] = expected[13] = expected[14] = TPassPace::SlowMs;
    EXPECT_EQ(scheduler.rests, expected);
}

TEST_F(SchedulerThread, NeverResumedLogsOnlyItsEnd) {
    int calls = 0;
    {
        TScheduler scheduler(true);
        scheduler.AddEntry({[](void* c) { ++*static_cast<int*>(c); }, &calls});
    }
    EXPECT_EQ(calls, 0);
    const std::string log = Log();
    EXPECT_EQ(log.find("Scheduler start event"), std::string::npos);
    EXPECT_NE(log.find("Scheduler on terminate event"), std::string::npos);
}

// --- application message handler

class MessageHandler : public ::testing::Test {
protected:
    void SetUp() override {
        RefreshList = std::make_unique<TFuncPtrList>();
        RequestTerminate = [this] { ++terminates; };
        DiscardQueuedRefresh = [this] { std::erase(queue, UM_REFRESH); };
    }
    void TearDown() override {
        FreeFuncPtrList(RefreshList);
        RequestTerminate = nullptr;
        DiscardQueuedRefresh = nullptr;
    }
    // Runs the queue through the handler as the message loop would.
    void RunQueue() {
        while (!queue.empty()) {
            const uint32_t m = queue.front();
            queue.pop_front();
            bool handled = false;
            AppMessageHandler({nullptr, m, 0, 0}, handled);
        }
    }
    static void Record(void* tag) { calls.push_back(*static_cast<int*>(tag)); }

    int terminates = 0;
    std::deque<uint32_t> queue;
    static inline std::vector<int> calls;
};

TEST_F(MessageHandler, MessagesAndTheirEffects) {
    struct Case {
        const char* what;
        uint32_t msg;
        uintptr_t wParam;
        bool handled;
        int terminates;
    };
    const Case cases[] = {
        {"Alt+F4", kSysKeyDown, kF4, true, 1},
        {"Alt+F3", kSysKeyDown, kF3, false, 0},
        {"F4 without Alt", kKeyDown, kF4, false, 0},
        {"tick", UM_TICK500, 0, false, 0},
        {"log state", UM_LOGSTATE, 0x1203, true, 0},
        {"refresh", UM_REFRESH, 0, true, 0},
        {"other", rtl::WM_USER + 7, kF4, false, 0},
    };
    for (const Case& c : cases) {
        terminates = 0;
        bool handled = false;
        AppMessageHandler({nullptr, c.msg, c.wParam, 0}, handled);
        EXPECT_EQ(handled, c.handled) << c.what;
        EXPECT_EQ(terminates, c.terminates) << c.what;
    }
    EXPECT_EQ(LogState.load(), 0x03) << "the low byte of wParam";
}

TEST_F(MessageHandler, QueuedRefreshesRunTheListOnce) {
    calls.clear();
    int a = 1, b = 2;
    RefreshList->push_back({Record, &a});
    RefreshList->push_back({nullptr, nullptr});
    RefreshList->push_back({Record, &b});
    queue.assign(10, UM_REFRESH);
    queue.push_back(UM_TICK500);
    RunQueue();
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));
    queue.assign(1, UM_REFRESH);
    RunQueue();
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 1, 2}));
}

TEST_F(MessageHandler, RefreshWithoutListOrHooksDoesNothing) {
    FreeFuncPtrList(RefreshList);
    FreeFuncPtrList(RefreshList);
    DiscardQueuedRefresh = nullptr;
    RequestTerminate = nullptr;
    bool handled = false;
    AppMessageHandler({nullptr, UM_REFRESH, 0, 0}, handled);
    EXPECT_TRUE(handled);
    handled = false;
    AppMessageHandler({nullptr, kSysKeyDown, kF4, 0}, handled);
    EXPECT_TRUE(handled);
}

}  // namespace
