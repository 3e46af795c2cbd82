// The message ring's capture states, and the node poller against the shipped library on the
// simulated network (frames from its nodes, frames injected by the test, change bytes forced).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "AppStrings.h"
#include "Fancoil.h"
#include "InstallFixture.h"
#include "Morvand.h"
#include "RxMsgRing.h"
#include "Scheduler.h"

namespace {

TRxMsg Frame(uint32_t id) {
    TRxMsg m{};
    m.Id = id;
    m.Len = 8;
    for (uint8_t& b : m.Data) b = uint8_t(id);
    return m;
}

// --- the ring on its own

class Ring : public ::testing::Test {
protected:
    TRxMsgRing ring;
    uint32_t next = 1;
    void Capture(int count) {
        for (int i = 0; i < count; ++i) ring.Capture(Frame(next++));
    }
    // Fills the ring up to the given write index from a clear ring.
    void CaptureTo(uint16_t index) { Capture(index); }
};

TEST_F(Ring, RunStoresFromSlotOneAndWraps) {
    Capture(1);
    EXPECT_EQ(ring.WriteIndex(), 1);
    EXPECT_EQ(ring.Record(1).Id, 1u);
    EXPECT_EQ(ring.Record(0).Id, 0u);
    Capture(9998);
    EXPECT_EQ(ring.WriteIndex(), 9999);
    Capture(1);
    EXPECT_EQ(ring.WriteIndex(), 0) << "slot 0 is written by the 10,000th frame";
    EXPECT_EQ(ring.Record(0).Id, 10000u);
    Capture(1);
    EXPECT_EQ(ring.WriteIndex(), 1);
    EXPECT_EQ(ring.Record(1).Id, 10001u) << "the oldest is overwritten";
}

TEST_F(Ring, SuspendedCaptureStopsItselfAtTheAnchor) {
    CaptureTo(9000);
    ring.Suspend(5000);
    EXPECT_EQ(ring.Anchor(), 4000);
    EXPECT_TRUE(ring.Suspended());
    Capture(4999);
    EXPECT_TRUE(ring.Suspended());
    EXPECT_EQ(ring.WriteIndex(), 3999);
    Capture(1);
    EXPECT_TRUE(ring.Stopped());
    EXPECT_FALSE(ring.Suspended());
    EXPECT_EQ(ring.Anchor(), 4000);
    EXPECT_EQ(ring.WriteIndex(), 4000);
    const uint32_t kept = ring.Record(4001).Id;
    Capture(3);
    EXPECT_EQ(ring.WriteIndex(), 4000) << "dropped once stopped";
    EXPECT_EQ(ring.Record(4001).Id, kept);
}

TEST_F(Ring, CommandsSetFlagsAndAnchorTogether) {
    struct Step {
        const char* command;
        int framesAfter;
        uint16_t writeIndex, anchor;
        bool suspended, stopped;
    };
    // Each step: the command, then frames offered, then the state.
    const Step steps[] = {
        {"run", 5, 5, 0, false, false},
        {"stop", 3, 5, 5, false, true},       // anchor = the newest kept
        {"stop", 0, 5, 5, false, true},
        {"suspend", 2, 7, 15, true, false},   // anchor = write index + 10
        {"suspend", 0, 7, 17, true, false},   // moved again from the write index
        {"stop", 4, 7, 7, false, true},       // from SUSP: the last frame captured
        {"run", 1, 8, 7, false, false},       // indexes kept, capture goes on
        {"clear", 2, 2, 0, false, false},     // clear in RUN: next frame to slot 1
        {"stop", 0, 2, 2, false, true},
        {"clear", 2, 0, 0, false, true},      // clear keeps the state
        {"suspend", 1, 1, 10, true, false},
    };
    for (const Step& s : steps) {
        const std::string c = s.command;
        if (c == "run") ring.Run();
        else if (c == "stop") EXPECT_EQ(ring.Stop(), ring.WriteIndex());
        else if (c == "suspend") ring.Suspend(10);
        else ring.Clear();
        Capture(s.framesAfter);
        EXPECT_EQ(ring.WriteIndex(), s.writeIndex) << c;
        EXPECT_EQ(ring.Anchor(), s.anchor) << c;
        EXPECT_EQ(ring.Suspended(), s.suspended) << c;
        EXPECT_EQ(ring.Stopped(), s.stopped) << c;
    }
}

TEST_F(Ring, ClearEmptiesEverySlot) {
    Capture(10005);
    ring.Clear();
    for (uint16_t i = 0; i < TRxMsgRing::kSlots; ++i) ASSERT_EQ(ring.Record(i).Id, 0u) << i;
    EXPECT_EQ(ring.Record(10000).Id, 0u) << "a slot number past the end is taken modulo 10,000";
}

// The window's commands while the capture runs: a stop's anchor is exactly the last frame stored,
// records are read whole, and a clear never meets a half-stored frame.
TEST_F(Ring, CommandsWhileCapturing) {
    std::atomic<bool> done{false};
    std::thread capture([&] {
        for (uint32_t id = 1; !done; id = id % 0x7FF + 1) ring.Capture(Frame(id));
    });
    for (int round = 0; round < 200; ++round) {
        const uint16_t anchor = ring.Stop();
        std::this_thread::yield();
        EXPECT_EQ(ring.WriteIndex(), anchor);
        const TRxMsg newest = ring.Record(anchor);
        for (uint8_t b : newest.Data) ASSERT_EQ(b, uint8_t(newest.Id));
        if (round % 10 == 0) ring.Clear();
        ring.Run();
        const TRxMsg any = ring.Record(uint16_t(round * 37));
        for (uint8_t b : any.Data) ASSERT_EQ(b, uint8_t(any.Id));
    }
    done = true;
    capture.join();
}

// --- the poller on the library

class Poller : public Installation {
protected:
    std::unique_ptr<TAppStrings> descriptions;
    std::unique_ptr<TFancoil> model;

    void SetUp() override {
        Installation::SetUp();
        BaseDir = base.string() + "/";
        descriptions = std::make_unique<TAppStrings>("USR\\FanStr.cfg");
        ASSERT_TRUE(descriptions->Load());
        model = std::make_unique<TFancoil>(*descriptions);
    }
    void Start() {
        ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
        // The library's database outlives its instance: begin without change bytes or frames.
        for (int n = 0; n < 128; ++n) _NodeChanged(uint8_t(n));
        TRxMsg m;
        while (_GetRxMsg(&m)) {
        }
        RxMsgRing.Clear();
    }
    // Runs the bus in steps, polling after each as the scheduler does.
    void Run(sim::Time span) {
        for (sim::Time t = 0; t < span; t += 20 * sim::kMs) {
            net->Advance(20 * sim::kMs);
            model->Poll();
        }
    }
    void ClearMarks() {
        for (int n = 0; n < 128; ++n) model->TakeChanged(n);
    }
};

TEST_F(Poller, ChangeBytesMarkNodesThatGaveAValue) {
    Start();
    struct Case {
        uint8_t node, flags;
        bool marked;
    };
    const Case cases[] = {
        {40, 0x00, false},
        {40, 0x01, true},   // analog 1: read, no place in the model, marked all the same
        {40, 0x10, true},
        {40, 0x02, true},
        {40, 0x23, true},
        {40, 0x4C, false},  // bits of node 127 mean nothing for a device
        {126, 0x02, true},  // polled as a device
        {21, 0x20, true},
        {127, 0x40, false}, // analog 6: the library has no value
        {127, 0x04, true},
        {127, 0x08, true},
        {127, 0x80, true},
        {127, 0x33, false}, // device bits mean nothing for node 127
    };
    for (const Case& c : cases) {
        ClearMarks();
        _ForceNodeChanged(c.node, c.flags);
        model->Poll();
        EXPECT_EQ(model->TakeChanged(c.node), c.marked ? 1 : 0) << int(c.node) << " flags " << int(c.flags);
        EXPECT_EQ(_NodeChanged(c.node), 0) << "the poller took the byte";
    }
    _ForceNodeChanged(20, 0xFF);
    model->Poll();
    EXPECT_EQ(model->TakeChanged(20), 0);
    EXPECT_EQ(_NodeChanged(20), 0xFF) << "nodes below 21 are not polled";
}

TEST_F(Poller, NodesValuesAndFramesReachModelAndRing) {
    sim::NodeConfig device = SimNode(40, 200 * sim::kMs);
    // The library's database outlives its instance: values of its own for each run, so that they
    // arrive as changes.
    static int8_t run = 0;
    const int8_t setPoint = int8_t(10 + run++ % 40);
    device.values.master = 40;
    device.values.setPoint = setPoint;
    device.values.analog = {int16_t(200 + setPoint), -12, 180, 99};
    device.statusPeriod = 300 * sim::kMs;
    device.analogPeriod = 300 * sim::kMs;
    net->AddNode(device);
    net->AddNode(SimNode(127, 200 * sim::kMs));
    Start();
    net->SetCapture(true);
    Run(1000 * sim::kMs);

    EXPECT_TRUE(model->IsPresent(40));
    EXPECT_TRUE(model->IsOperational(40));
    EXPECT_TRUE(model->IsPresent(127));
    EXPECT_EQ(model->ReadInteger(1, 40), setPoint);
    EXPECT_EQ(model->ReadInteger(14, 40), 40);
    for (int i = 4; i <= 7; ++i) {
        uint16_t w = 0;
        ASSERT_TRUE(_RdDBValue(40, uint8_t(i), 2, &w));
        EXPECT_EQ(model->ReadAnalog(i, 40), int16_t(w)) << "analog " << i;
    }
    EXPECT_EQ(model->TakeChanged(40), 1);
    EXPECT_EQ(model->TakeChanged(127), 1);

    // Every frame of the nodes, in bus order, from slot 1 on.
    std::vector<uint32_t> sent;
    for (const sim::BusFrame& f : net->TakeCapture())
        if (f.sender != sim::kSenderHost) sent.push_back(f.frame.id);
    ASSERT_EQ(RxMsgRing.WriteIndex(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(RxMsgRing.Record(uint16_t(i + 1)).Id, sent[i]) << i;
    for (uint16_t i = 1; i <= RxMsgRing.WriteIndex(); ++i) EXPECT_EQ(RxMsgRing.Record(i).Status & MORVAND_RX_OVERRUN, 0);
}

TEST_F(Poller, StoppedCaptureStillDrainsTheLibrary) {
    Start();
    RxMsgRing.Stop();
    for (uint32_t id = 0x101; id <= 0x105; ++id) net->Inject(sim::Frame(id, {1, 2}));
    net->Advance(20 * sim::kMs);
    DrainedFrames = 0;
    model->Poll();
    EXPECT_EQ(DrainedFrames, 5u) << "the scheduler's pace counts every frame taken";
    EXPECT_EQ(RxMsgRing.WriteIndex(), 0);
    TRxMsg m;
    EXPECT_FALSE(_GetRxMsg(&m)) << "taken from the library and dropped";
}

TEST_F(Poller, SuspendedCaptureStopsAtTheAnchorWithinOneDrain) {
    Start();
    RxMsgRing.Suspend(3);
    for (uint32_t id = 0x101; id <= 0x106; ++id) net->Inject(sim::Frame(id, {uint8_t(id)}));
    net->Advance(20 * sim::kMs);
    model->Poll();
    EXPECT_TRUE(RxMsgRing.Stopped());
    EXPECT_FALSE(RxMsgRing.Suspended());
    EXPECT_EQ(RxMsgRing.WriteIndex(), 3);
    EXPECT_EQ(RxMsgRing.Anchor(), 3);
    for (uint16_t s = 1; s <= 3; ++s) EXPECT_EQ(RxMsgRing.Record(s).Id, 0x100u + s);
    EXPECT_EQ(RxMsgRing.Record(4).Id, 0u);
    TRxMsg m;
    EXPECT_FALSE(_GetRxMsg(&m));
}

TEST_F(Poller, WithoutAnInstanceAPassDoesNothing) {
    Start();
    _DestroyCANThread();
    _ForceNodeChanged(40, 0xFF);
    model->Poll();
    EXPECT_EQ(model->TakeChanged(40), 0);
    EXPECT_EQ(RxMsgRing.WriteIndex(), 0);
}

}  // namespace
