#include "rtl/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

// A worker whose body is given by the test; the usual loop counts its passes.
class Worker : public rtl::TThread {
public:
    explicit Worker(std::function<void(Worker&)> body = Loop) : TThread(true), body_(std::move(body)) {}
    ~Worker() override { Finish(); }

    void SelfSuspend() { Suspend(); }
    void RestFor(uint32_t ms) { Rest(ms); }
    static void Loop(Worker& w) {
        while (!w.Terminated()) {
            ++w.passes;
            w.SelfSuspend();
        }
    }

    std::atomic<int> passes{0};

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(Worker&)> body_;
};

// Polls until the condition holds; fails the test instead of hanging for ever.
template <class F>
bool Eventually(F condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(ThreadTest, ANeverStartedThreadRunsNoPass) {
    std::atomic<int> passes{0};
    {
        Worker w([&](Worker& self) {
            Worker::Loop(self);
            passes = self.passes.load();
        });
        EXPECT_TRUE(w.Suspended());
        EXPECT_FALSE(w.Finished());
    }
    EXPECT_EQ(passes, 0);
}

TEST(ThreadTest, TerminateBeforeStartRunsNoPass) {
    Worker w;
    w.Terminate();
    EXPECT_TRUE(w.Terminated());
    w.WaitFor();  // returns at once for a thread never started
    EXPECT_EQ(w.passes, 0);
}

TEST(ThreadTest, ResumeWakesASelfSuspendedThread) {
    Worker w;
    w.Resume();
    ASSERT_TRUE(Eventually([&] { return w.passes == 1 && w.Suspended(); }));
    w.Resume();
    ASSERT_TRUE(Eventually([&] { return w.passes == 2 && w.Suspended(); }));
    w.Terminate();
    w.WaitFor();
    EXPECT_TRUE(w.Finished());
    EXPECT_EQ(w.passes, 2);
}

TEST(ThreadTest, TerminateWakesASelfSuspendedThread) {
    Worker w;
    w.Resume();
    ASSERT_TRUE(Eventually([&] { return w.Suspended(); }));
    w.Terminate();
    w.WaitFor();
    EXPECT_TRUE(w.Finished());
    EXPECT_EQ(w.passes, 1);
}

TEST(ThreadTest, RestEndsOnWakeAndOnTerminateAndKeepsAWakeThatCameEarly) {
    std::atomic<int> begun{0}, rests{0};
    std::atomic<bool> busy{true};
    Worker w([&](Worker& self) {
        while (busy) std::this_thread::yield();
        while (!self.Terminated()) {
            ++begun;
            self.RestFor(600'000);
            ++rests;
        }
    });
    w.Resume();
    w.Wake();  // while the body is busy: its first rest ends at once
    busy = false;
    ASSERT_TRUE(Eventually([&] { return rests == 1; }));
    w.Wake();
    ASSERT_TRUE(Eventually([&] { return rests == 2; }));
    // Past its check of Terminated: a Terminate before it would end the loop with no third rest.
    ASSERT_TRUE(Eventually([&] { return begun == 3; }));
    w.Terminate();
    w.WaitFor();
    EXPECT_EQ(rests, 3);
}

TEST(ThreadTest, SuspendAfterTerminateReturnsAtOnce) {
    std::atomic<bool> go{false}, suspendReturned{false};
    Worker w([&](Worker& self) {
        while (!go) std::this_thread::yield();
        self.SelfSuspend();  // termination already requested: must not block
        suspendReturned = true;
    });
    w.Resume();
    w.Terminate();
    go = true;
    w.WaitFor();
    EXPECT_TRUE(suspendReturned);
}

TEST(ThreadTest, SuspendedTellsTheTruth) {
    std::atomic<bool> running{false}, release{false};
    Worker w([&](Worker& self) {
        running = true;
        while (!release) std::this_thread::yield();
        self.SelfSuspend();
    });
    EXPECT_TRUE(w.Suspended());  // never started
    w.Resume();
    ASSERT_TRUE(Eventually([&] { return running.load(); }));
    EXPECT_FALSE(w.Suspended());  // running
    release = true;
    ASSERT_TRUE(Eventually([&] { return w.Suspended(); }));  // suspended by itself
    w.Resume();
    w.WaitFor();
    EXPECT_TRUE(w.Finished());
}

TEST(ThreadTest, OnTerminateRunsOnceOnTheWaitingThread) {
    std::atomic<int> calls{0};
    rtl::TThread* seen = nullptr;
    std::thread::id where;
    {
        Worker w([](Worker&) {});
        w.OnTerminate = [&](rtl::TThread* t) {
            ++calls;
            seen = t;
            where = std::this_thread::get_id();
        };
        w.Resume();
        w.WaitFor();
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(seen, &w);
        EXPECT_EQ(where, std::this_thread::get_id());
        w.WaitFor();
    }
    EXPECT_EQ(calls, 1);  // not again by a second wait or the destruction
}

}  // namespace
