// The bus: timing, arbitration, the host port and its transmit queue, bus faults, time modes.
#include <atomic>
#include <chrono>
#include <thread>

#include "sim/SimFixture.h"

namespace {

using namespace simtest;

// Collects what the host receives (on the bus thread).
struct Host {
    std::mutex m;
    std::vector<sim::Delivered> frames;
    std::vector<size_t> batches;
    std::thread::id thread;
    sim::Network::HostSink Sink() {
        return [this](const sim::Delivered* d, size_t n) {
            std::lock_guard lock(m);
            frames.insert(frames.end(), d, d + n);
            batches.push_back(n);
            thread = std::this_thread::get_id();
        };
    }
    size_t Count() {
        std::lock_guard lock(m);
        return frames.size();
    }
};

const Frame kEight(0x123, {1, 2, 3, 4, 5, 6, 7, 8});
constexpr Time kBit125 = 8000;  // ns

class BusTest : public SimTest {
protected:
    void TearDown() override { net->DetachHost(); }
    Host host;
};

TEST_F(BusTest, TransmitQueueDrainsAtBusPace) {
    ASSERT_TRUE(net->AttachHost(host.Sink(), 120, 50));
    const Time frame = sim::FrameBits(kEight) * kBit125;
    for (int i = 0; i < 10; ++i) ASSERT_EQ(net->HostTransmit(kEight), 1);
    EXPECT_EQ(net->HostQueueLevel(), 10);
    // A frame leaves the queue when its last bit is on the bus.
    net->Advance(frame - 1);
    EXPECT_EQ(net->HostQueueLevel(), 10);
    net->Advance(1);
    EXPECT_EQ(net->HostQueueLevel(), 9);
    net->Advance(3 * frame);
    EXPECT_EQ(net->HostQueueLevel(), 6);
    net->Advance(6 * frame);
    EXPECT_EQ(net->HostQueueLevel(), 0);
    // Back to back, each taking its bit time.
    auto captured = net->TakeCapture();
    ASSERT_EQ(captured.size(), 10u);
    for (size_t i = 1; i < captured.size(); ++i) EXPECT_EQ(captured[i].start, captured[i - 1].end);
    EXPECT_EQ(captured[0].end - captured[0].start, frame);
    // Our own transmissions never come back.
    EXPECT_EQ(host.Count(), 0u);
}

TEST_F(BusTest, QueueHoldsItsEntriesAndRefusesBeyond) {
    ASSERT_TRUE(net->AttachHost(host.Sink(), 120, 50));
    for (int i = 0; i < 120; ++i) ASSERT_EQ(net->HostTransmit(kEight), 1) << i;
    EXPECT_EQ(net->HostTransmit(kEight), 0);
    EXPECT_EQ(net->HostQueueLevel(), 120);
    net->Advance(sim::FrameBits(kEight) * kBit125);
    EXPECT_EQ(net->HostTransmit(kEight), 1);
    net->SetRefuseTransmit(true);
    net->Advance(50 * kMs);
    EXPECT_EQ(net->HostTransmit(kEight), 0);
    net->SetRefuseTransmit(false);
    EXPECT_EQ(net->HostTransmit(kEight), 1);
}

TEST_F(BusTest, LowestIdentifierWinsArbitration) {
    ASSERT_TRUE(net->AttachHost(host.Sink(), 120, 50));
    net->Inject(Frame(0x300, {1}));
    net->Inject(Frame(0x200, {2}));  // behind 0x300 in the same device's queue
    net->HostTransmit(Frame(0x250, {3}));
    net->Advance(10 * kMs);
    std::vector<uint32_t> order;
    for (const auto& f : net->TakeCapture()) order.push_back(f.frame.id);
    EXPECT_EQ(order, (std::vector<uint32_t>{0x250, 0x300, 0x200}));
    ASSERT_EQ(host.Count(), 2u);
    EXPECT_EQ(host.frames[0].frame, Frame(0x300, {1}));
}

TEST_F(BusTest, BurstArrivesBackToBackWithStamps) {
    ASSERT_TRUE(net->AttachHost(host.Sink(), 120, 50));
    net->Advance(kMs);
    net->Inject(kEight, 200);
    net->Advance(300 * kMs);
    ASSERT_EQ(host.Count(), 200u);
    for (size_t b : host.batches) EXPECT_LE(b, 50u);
    EXPECT_NE(host.thread, std::this_thread::get_id());
    const Time frame = sim::FrameBits(kEight) * kBit125;
    for (size_t i = 0; i < host.frames.size(); ++i)  // frame i ends at 1 ms + (i + 1) frames, in 100 us units
        EXPECT_EQ(host.frames[i].stamp, (kMs + (i + 1) * frame) / 100'000) << i;
}

TEST_F(BusTest, NodesHearTheHost) {
    Add(Device(30, 30));
    ASSERT_TRUE(net->AttachHost(host.Sink(), 120, 50));
    net->Advance(200 * kMs);
    net->TakeCapture();
    net->HostTransmit(Frame(0x61E, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}));
    net->Advance(5 * kMs);
    const auto captured = net->TakeCapture();
    ASSERT_EQ(captured.size(), 2u);
    EXPECT_EQ(captured[0].sender, sim::kSenderHost);
    EXPECT_EQ(captured[1].frame, Frame(0x59E, {0x4B, 0x0F, 0x20, 0x00, 0x01, 0x46, 0, 0}));
    std::lock_guard lock(host.m);
    EXPECT_EQ(host.frames.back().frame, captured[1].frame);
}

TEST_F(BusTest, BackgroundLoadKeepsTheBusBusyForItsShare) {
    for (unsigned percent : {10u, 50u, 100u}) {
        net = std::make_shared<sim::Network>();
        SetUp();
        net->SetBackgroundLoad(percent);
        const Time span = 2000 * kMs;
        net->Advance(span);
        Time busy = 0;
        for (const auto& f : net->TakeCapture()) busy += f.end - f.start;
        EXPECT_NEAR(double(busy) / span, percent / 100.0, 0.01) << percent;
    }
    // Our frames still get through a full bus (background traffic has a low priority).
    ASSERT_TRUE(net->AttachHost(host.Sink(), 120, 50));
    for (int i = 0; i < 5; ++i) net->HostTransmit(kEight);
    net->Advance(10 * kMs);
    EXPECT_EQ(net->HostQueueLevel(), 0);
}

// Waits (really) for a condition, failing after a generous time.
bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

TEST_F(BusTest, RealTimeBusRunsByItself) {
    net->SetTimeMode(sim::TimeMode::RealTime);
    ASSERT_TRUE(net->AttachHost(host.Sink(), 120, 50));
    for (int i = 0; i < 20; ++i) net->HostTransmit(kEight);
    net->Inject(kEight, 5);
    EXPECT_TRUE(Eventually([&] { return net->HostQueueLevel() == 0 && host.Count() == 5; }));
}

TEST_F(BusTest, UnthrottledBusDeliversAsFastAsItCan) {
    net->SetTimeMode(sim::TimeMode::Unthrottled);
    net->SetBackgroundLoad(100);
    ASSERT_TRUE(net->AttachHost(host.Sink(), 120, 50));
    EXPECT_TRUE(Eventually([&] { return host.Count() >= 20000; }));
    net->DetachHost();
    std::lock_guard lock(host.m);
    for (size_t i = 1; i < host.frames.size(); ++i) ASSERT_GE(host.frames[i].stamp, host.frames[i - 1].stamp);
}

TEST_F(BusTest, DetachFromTheSinkEndsDelivery) {
    std::atomic<int> calls{0};
    net->SetTimeMode(sim::TimeMode::Unthrottled);
    net->SetBackgroundLoad(100);
    ASSERT_TRUE(net->AttachHost(
        [&](const sim::Delivered*, size_t) {
            if (++calls == 3) net->DetachHost();
        },
        120, 1));
    EXPECT_TRUE(Eventually([&] { return !net->HostAttached(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(calls.load(), 3);
}

}  // namespace
