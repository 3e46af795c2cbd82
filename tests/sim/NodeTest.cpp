// The nodes' side of every frame kind: what they send, what they obey, how they answer.
#include <functional>

#include "sim/HexDownload.h"
#include "sim/SimFixture.h"

namespace {

using namespace simtest;
using sim::NodeMode;

TEST_F(SimTest, BootUpHeartbeatThenTheStartState) {
    Add(Device(30, 30));
    Add(Device(31, 30, false));
    sim::NodeConfig controller;
    controller.number = 127;
    Add(controller);
    auto frames = Run(1500 * kMs);
    EXPECT_EQ(WithId(frames, 0x71E), (std::vector<Frame>{Frame(0x71E, {0}), Frame(0x71E, {5}), Frame(0x71E, {5})}));
    EXPECT_EQ(WithId(frames, 0x71F), (std::vector<Frame>{Frame(0x71F, {0}), Frame(0x71F, {127}), Frame(0x71F, {127})}));
    EXPECT_EQ(WithId(frames, 0x77F).front(), Frame(0x77F, {0}));
    // Process frames only while operational.
    EXPECT_FALSE(WithId(frames, 0x19E).empty());
    EXPECT_FALSE(WithId(frames, 0x29E).empty());
    EXPECT_TRUE(WithId(frames, 0x19F).empty());
    EXPECT_TRUE(WithId(frames, 0x29F).empty());
    EXPECT_FALSE(WithId(frames, 0x3FF).empty());
}

TEST_F(SimTest, StatusAnalogAndSystemFrameLayouts) {
    struct Case {
        std::function<void(sim::NodeValues&)> set;
        uint32_t id;
        Frame expected;
    } cases[] = {
        {[](auto& v) {
             v.master = 30, v.setPoint = 22, v.lg = 1, v.ld = 2, v.offset = -1, v.mode = 3, v.fan = 2, v.fl = 5,
             v.la = 7, v.ky = 9, v.flags = 0xFF, v.inputs = 0x1F;
         },
         0x19E, Frame(0x19E, {0x1E, 0x16, 0x12, 0x73, 0x45, 0x79, 0xFD, 0x1F})},
        {[](auto& v) {
             v.master = 127, v.setPoint = -1, v.lg = 7, v.ld = 0, v.offset = -4, v.mode = 0, v.fan = 3, v.fl = 15,
             v.la = 15, v.ky = 0, v.flags = 0x01, v.inputs = 0xE0;
         },
         0x19E, Frame(0x19E, {0x7F, 0x7F, 0x70, 0x40, 0x6F, 0xF0, 0x01, 0xE0})},
        {[](auto& v) { v.analog = {215, -5, 16383, -16384}; }, 0x29E,
         Frame(0x29E, {0xD7, 0x00, 0xFB, 0xFF, 0xFF, 0x3F, 0x00, 0xC0})},
        {[](auto& v) { v.analog = {20000, -20000, 0, 1}; }, 0x29E,  // beyond 15 bits: the limits
         Frame(0x29E, {0xFF, 0x3F, 0x00, 0xC0, 0x00, 0x00, 0x01, 0x00})},
        {[](auto& v) { v.system = {85, -450}, v.systemByte = 1; }, 0x3FF,
         Frame(0x3FF, {0x55, 0x00, 0x3E, 0xFE, 0x01, 0x00, 0x00, 0x00})},
    };
    Add(Device(30, 30));
    sim::NodeConfig controller;
    controller.number = 127;
    Add(controller);
    Boot();
    for (const auto& c : cases) {
        net->ChangeValues(c.id == 0x3FF ? 127 : 30, c.set);
        auto frames = WithId(Run(2100 * kMs), c.id);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front(), c.expected);
    }
}

TEST_F(SimTest, CommandFrameFieldsApplyOnlyWithTheirValidBit) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::function<void(sim::NodeValues&)> expect;
    } cases[] = {
        {{0x96, 0, 0, 0x08, 0, 0, 0}, [](auto& v) { v.setPoint = 22; }},
        {{0xFF, 0, 0, 0x08, 0, 0, 0}, [](auto& v) { v.setPoint = -1; }},
        {{0, 0x0B, 0, 0x08, 0, 0, 0}, [](auto& v) { v.mode = 3; }},
        {{0, 0xF0, 0, 0x08, 0, 0, 0}, [](auto& v) { v.offset = -1; }},
        {{0, 0x80, 0, 0x08, 0, 0, 0}, [](auto& v) { v.offset = 0; }},
        {{0, 0, 0x1A, 0x08, 0, 0, 0}, [](auto& v) { v.fl = 10; }},
        {{0, 0, 0xE0, 0x08, 0, 0, 0}, [](auto& v) { v.fan = 3; }},
        {{0, 0, 0, 0x0C, 0, 0, 0}, [](auto& v) { v.d = true; }},
        {{0, 0, 0, 0x38, 0, 0, 0}, [](auto& v) { v.flags |= 0x04; }},
        {{0, 0, 0, 0xC8, 0, 0, 0}, [](auto& v) { v.flags |= 0x08; }},
        {{0, 0, 0, 0x08, 0x03, 0, 0}, [](auto& v) { v.flags |= 0x10; }},
        {{0, 0, 0, 0x08, 0x0C, 0, 0}, [](auto& v) { v.flags |= 0x20; }},
        {{0, 0, 0, 0x08, 0x30, 0, 0}, [](auto& v) { v.flags |= 0x40; }},
        {{0, 0, 0, 0x08, 0xC0, 0, 0}, [](auto& v) { v.flags |= 0x80; }},
        {{0, 0, 0, 0x08, 0x02, 0, 0}, [](auto& v) { v.flags &= uint8_t(~0x10); }},
        {{0, 0, 0, 0x08, 0, 0xD7, 0x80}, [](auto& v) { v.setValue = 215; }},
        {{0, 0, 0, 0x08, 0, 0x00, 0xC0}, [](auto& v) { v.setValue = -16384; }},
        {{0x16, 0x03, 0x0A, 0x04, 0x55, 0xD7, 0x00}, [](auto&) {}},  // no valid bit set
        {{0x96, 0x0B}, [](auto& v) { v.setPoint = 22, v.mode = 3; }},  // a short frame: what it carries
    };
    for (const auto& c : cases) {
        auto before = Device(30, 30);
        before.values.flags = 0x10;
        net = std::make_shared<sim::Network>();
        SetUp();
        Add(before);
        Boot();
        Frame command;
        command.id = 0x21E;
        command.len = uint8_t(c.bytes.size());
        std::copy(c.bytes.begin(), c.bytes.end(), command.data.begin());
        auto frames = Send(command);
        sim::NodeValues expected = before.values;
        c.expect(expected);
        const sim::NodeValues v = Values(30);
        EXPECT_EQ(v.setPoint, expected.setPoint);
        EXPECT_EQ(v.mode, expected.mode);
        EXPECT_EQ(v.offset, expected.offset);
        EXPECT_EQ(v.fl, expected.fl);
        EXPECT_EQ(v.fan, expected.fan);
        EXPECT_EQ(v.d, expected.d);
        EXPECT_EQ(v.flags, expected.flags);
        EXPECT_EQ(v.setValue, expected.setValue);
        // The new values are reported at once, not at the next period.
        EXPECT_EQ(WithId(frames, 0x19E).size(), 1u);
    }
}

TEST_F(SimTest, StatusFrameShowsACommandedSetPoint) {
    Add(Device(40, 40));
    Boot();
    auto status = WithId(Send(Frame(0x228, {0x96, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00})), 0x1A8);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].data[1], 22);
}

TEST_F(SimTest, GroupCommandsReachTheirGroup) {
    struct Case {
        uint32_t id;
        std::vector<uint8_t> obeying;
    } cases[] = {
        {0x21E, {30}},
        {0x31F, {30, 31}},  // the group of node 31: master 30
        {0x31E, {30, 31}},
        {0x328, {40}},
        {0x332, {}},  // no such node, nobody's master
        {0x37E, {41, 42}},
        {0x410, {30, 31, 40, 41, 42}},
    };
    for (const auto& c : cases) {
        net = std::make_shared<sim::Network>();
        SetUp();
        for (auto [n, m] : {std::pair{30, 30}, {31, 30}, {40, 40}, {41, 127}, {42, 127}}) Add(Device(uint8_t(n), uint8_t(m)));
        Boot();
        Send(Frame(c.id, {0x9E, 0, 0, 0x08, 0, 0, 0}));  // set-point 30
        for (uint8_t n : {30, 31, 40, 41, 42}) {
            const bool obeys = std::find(c.obeying.begin(), c.obeying.end(), n) != c.obeying.end();
            EXPECT_EQ(Values(n).setPoint, obeys ? 30 : 21) << std::hex << c.id << std::dec << " node " << int(n);
        }
    }
}

TEST_F(SimTest, NodeStateRequests) {
    Add(Device(30, 30, false));
    Boot();
    // Pre-operational: commands are not obeyed, no process frames.
    auto frames = Send(Frame(0x21E, {0x9E, 0, 0, 0x08, 0, 0, 0}), 3000 * kMs);
    EXPECT_EQ(Values(30).setPoint, 21);
    EXPECT_TRUE(WithId(frames, 0x19E).empty());
    // Operational: announced at once.
    frames = Send(Frame(30, {0x01, 0, 0, 0, 0, 0, 0, 0}), 5 * kMs);
    EXPECT_EQ(WithId(frames, 0x71E), std::vector<Frame>{Frame(0x71E, {5})});
    EXPECT_EQ(net->NodeState(30)->mode, NodeMode::Operational);
    frames = Run(2000 * kMs);
    EXPECT_FALSE(WithId(frames, 0x19E).empty());
    // A request for another node changes nothing.
    Send(Frame(31, {0x80, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(net->NodeState(30)->mode, NodeMode::Operational);
    frames = Send(Frame(30, {0x80, 0, 0, 0, 0, 0, 0, 0}), 5 * kMs);
    EXPECT_EQ(WithId(frames, 0x71E), std::vector<Frame>{Frame(0x71E, {127})});
    EXPECT_EQ(net->NodeState(30)->mode, NodeMode::PreOperational);
}

TEST_F(SimTest, SdoUploadsAndDownloads) {
    struct Case {
        Frame request;
        Frame answer;
        std::function<void(sim::NodeValues&)> effect;
    } cases[] = {
        {Frame(0x61E, {0x40, 0x05, 0x20, 0x01, 0, 0, 0, 0}), Frame(0x59E, {0x43, 0x05, 0x20, 0x01, 1, 2, 0xFF, 0xFE}), nullptr},
        {Frame(0x61E, {0x40, 0x05, 0x20, 0x05, 0, 0, 0, 0}), Frame(0x59E, {0x43, 0x05, 0x20, 0x05, 9, 10, 0xF7, 0xF6}), nullptr},
        {Frame(0x61E, {0x40, 0x05, 0x20, 0x06, 0, 0, 0, 0}), Frame(0x59E, {0x80, 0x05, 0x20, 0x06, 0x11, 0x00, 0x09, 0x06}), nullptr},
        {Frame(0x61E, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}), Frame(0x59E, {0x4B, 0x0F, 0x20, 0x00, 0x01, 0x46, 0, 0}), nullptr},
        {Frame(0x61E, {0x40, 0x99, 0x20, 0x00, 0, 0, 0, 0}), Frame(0x59E, {0x80, 0x99, 0x20, 0x00, 0x00, 0x00, 0x02, 0x06}), nullptr},
        {Frame(0x61E, {0x40, 0x06, 0x20, 0x01, 0, 0, 0, 0}), Frame(0x59E, {0x80, 0x06, 0x20, 0x01, 0x01, 0x00, 0x01, 0x06}), nullptr},
        {Frame(0x61E, {0x2F, 0x06, 0x20, 0x03, 30, 0, 0, 0}), Frame(0x59E, {0x60, 0x06, 0x20, 0x03, 0, 0, 0, 0}),
         [](auto& v) { v.params2006[2] = 30; }},
        {Frame(0x61E, {0x2F, 0x06, 0x20, 0x0B, 30, 0, 0, 0}), Frame(0x59E, {0x80, 0x06, 0x20, 0x0B, 0x11, 0x00, 0x09, 0x06}), nullptr},
        {Frame(0x61E, {0x2F, 0x07, 0x20, 0x0A, 0xFB, 0, 0, 0}), Frame(0x59E, {0x60, 0x07, 0x20, 0x0A, 0, 0, 0, 0}),
         [](auto& v) { v.params2007[9] = -5; }},
        {Frame(0x61E, {0x2F, 0x08, 0x20, 0x01, 40, 0, 0, 0}), Frame(0x59E, {0x60, 0x08, 0x20, 0x01, 0, 0, 0, 0}),
         [](auto& v) { v.master = 40; }},
        {Frame(0x61E, {0x2F, 0x08, 0x20, 0x01, 5, 0, 0, 0}), Frame(0x59E, {0x80, 0x08, 0x20, 0x01, 0x30, 0x00, 0x09, 0x06}), nullptr},
        {Frame(0x61E, {0x2F, 0x09, 0x20, 0x01, 6, 0, 0, 0}), Frame(0x59E, {0x60, 0x09, 0x20, 0x01, 0, 0, 0, 0}),
         [](auto& v) { v.ld = 6; }},
        {Frame(0x61E, {0x2F, 0x0A, 0x20, 0x01, 5, 0, 0, 0}), Frame(0x59E, {0x60, 0x0A, 0x20, 0x01, 0, 0, 0, 0}),
         [](auto& v) { v.lg = 5; }},
        {Frame(0x61E, {0x2F, 0x0B, 0x20, 0x01, 12, 0, 0, 0}), Frame(0x59E, {0x60, 0x0B, 0x20, 0x01, 0, 0, 0, 0}),
         [](auto& v) { v.ky = 12; }},
        {Frame(0x61E, {0x2F, 0x0C, 0x20, 0x01, 1, 0, 0, 0}), Frame(0x59E, {0x60, 0x0C, 0x20, 0x01, 0, 0, 0, 0}),
         [](auto& v) { v.flags |= 1; }},
        {Frame(0x61E, {0x23, 0x05, 0x20, 0x02, 10, 11, 0xF0, 0xF1}), Frame(0x59E, {0x60, 0x05, 0x20, 0x02, 0, 0, 0, 0}),
         [](auto& v) { v.params2006[2] = 10, v.params2006[3] = 11, v.params2007[2] = -16, v.params2007[3] = -15; }},
        // The controller answers on 0x5FF.
        {Frame(0x67F, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}), Frame(0x5FF, {0x4B, 0x0F, 0x20, 0x00, 0x01, 0x46, 0, 0}), nullptr},
        {Frame(0x67F, {0x40, 0x05, 0x20, 0x01, 0, 0, 0, 0}), Frame(0x5FF, {0x80, 0x05, 0x20, 0x01, 0x00, 0x00, 0x02, 0x06}), nullptr},
    };
    sim::NodeConfig controller;
    controller.number = 127;
    controller.version = 0x4601;
    for (const auto& c : cases) {
        net = std::make_shared<sim::Network>();
        SetUp();
        Add(Device(30, 30));
        Add(controller);
        Boot();
        auto answers = From(Send(c.request), c.answer.id == 0x5FF ? 127 : 30);
        std::vector<Frame> sdo;
        for (const auto& a : answers)
            if ((a.frame.id & 0x780) == 0x580) sdo.push_back(a.frame);
        EXPECT_EQ(sdo, std::vector<Frame>{c.answer}) << testing::PrintToString(c.request);
        sim::NodeValues expected = Device(30, 30).values;
        if (c.effect) c.effect(expected);
        const auto v = Values(30);
        EXPECT_EQ(v.params2006, expected.params2006);
        EXPECT_EQ(v.params2007, expected.params2007);
        EXPECT_EQ(std::tuple(v.master, v.ld, v.lg, v.ky, v.flags),
                  std::tuple(expected.master, expected.ld, expected.lg, expected.ky, expected.flags));
    }
}

TEST_F(SimTest, SdoFaults) {
    using Sdo = sim::NodeFaults::Sdo;
    const Frame request(0x61E, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0});
    struct Case {
        Sdo fault;
        uint32_t answerId;  // 0: none
        uint8_t command;
        uint16_t object = 0;  // the fault's one object
    } cases[] = {
        {Sdo::Normal, 0x59E, 0x4B}, {Sdo::Silent, 0, 0}, {Sdo::Late, 0x59E, 0x4B},
        {Sdo::Abort, 0x59E, 0x80},  {Sdo::OtherNode, 0x5AD, 0x4B},
        {Sdo::Silent, 0, 0, 0x200F}, {Sdo::Abort, 0x59E, 0x4B, 0x2006}, {Sdo::Late, 0x59E, 0x4B, 0x2007},
    };
    for (const auto& c : cases) {
        net = std::make_shared<sim::Network>();
        SetUp();
        Add(Device(30, 30));
        Boot();
        sim::NodeFaults faults;
        faults.sdo = c.fault;
        faults.sdoResponder = 45;
        faults.sdoObject = c.object;
        net->SetFaults(30, faults);
        const Time asked = net->Now();
        net->Inject(request);
        std::vector<sim::BusFrame> sdo;
        for (const auto& f : Run(3000 * kMs))
            if ((f.frame.id & 0x780) == 0x580) sdo.push_back(f);
        if (c.answerId == 0) {
            EXPECT_TRUE(sdo.empty());
            continue;
        }
        ASSERT_EQ(sdo.size(), 1u) << int(c.fault);
        EXPECT_EQ(sdo[0].frame.id, c.answerId);
        EXPECT_EQ(sdo[0].frame.data[0], c.command);
        const Time delay = sdo[0].start - asked;
        if (c.fault == Sdo::Late && c.object == 0)
            EXPECT_GT(delay, 1500 * kMs);
        else
            EXPECT_LT(delay, 5 * kMs);
    }
}

TEST_F(SimTest, MuteAndHeartbeatStopped) {
    Add(Device(30, 30));
    Add(Device(31, 31));
    Boot();
    sim::NodeFaults mute, noHeartbeat;
    mute.mute = true;
    noHeartbeat.heartbeatStopped = true;
    net->SetFaults(30, mute);
    net->SetFaults(31, noHeartbeat);
    net->Inject(Frame(0x61E, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}));
    auto frames = Run(5000 * kMs);
    EXPECT_TRUE(From(frames, 30).empty());
    EXPECT_TRUE(WithId(frames, 0x71F).empty());
    EXPECT_FALSE(WithId(frames, 0x19F).empty());
    // Muted, a node still obeys.
    Send(Frame(0x21E, {0x9E, 0, 0, 0x08, 0, 0, 0}));
    EXPECT_EQ(Values(30).setPoint, 30);
}

// --- the boot loader on the bus

class BootLoaderOnBus : public SimTest {
protected:
    const std::map<uint16_t, std::vector<uint8_t>> blocks = {
        {0x0000, std::vector<uint8_t>(40, 0xA5)},
        {sim::kVersionAddress, {0x02, 0x47}},
    };
    uint16_t Crc() const {
        auto image = ImageOf(blocks);
        return sim::Crc16(image.data(), image.size());
    }
    std::vector<sim::BusFrame> GoBootLoader(uint8_t node) {
        return Send(Frame(0x600 + node, {0x2B, 0x10, 0x20, 0x00, 0xA5, 0x5A, 0x00, 0x00}));
    }
    // Erase, every record, the CRC; then restart time.
    std::vector<sim::BusFrame> Download(uint16_t crc) {
        Send(EraseFrame());
        for (const auto& r : HexRecords(blocks))
            for (const auto& p : RecordPieces(r)) net->Inject(p);
        net->Inject(CrcFrame(crc));
        return Run(3000 * kMs);
    }
    std::vector<Frame> Heartbeats(const std::vector<sim::BusFrame>& frames, uint8_t node) {
        return WithId(frames, 0x700 + node);
    }
};

TEST_F(BootLoaderOnBus, EachOutcome) {
    struct Case {
        const char* what;
        bool bootLoaderSilent, crcRefused, wrongCrc;
        bool acknowledged, restarts;
    } cases[] = {
        {"good", false, false, false, true, true},
        {"wrong CRC", false, false, true, true, false},
        {"CRC refused", false, true, false, true, false},
        {"boot loader silent", true, false, false, false, false},
    };
    for (const auto& c : cases) {
        net = std::make_shared<sim::Network>();
        SetUp();
        Add(Device(30, 30));
        Add(Device(31, 31));  // stays in its application
        Boot();
        sim::NodeFaults faults;
        faults.bootLoaderSilent = c.bootLoaderSilent;
        faults.crcRefused = c.crcRefused;
        net->SetFaults(30, faults);
        auto frames = GoBootLoader(30);
        EXPECT_EQ(WithId(frames, 0x59E), c.acknowledged ? std::vector<Frame>{Frame(0x59E, {0x60, 0x10, 0x20, 0, 0, 0, 0, 0})}
                                                         : std::vector<Frame>{})
            << c.what;
        EXPECT_EQ(net->NodeState(30)->mode, NodeMode::BootLoader);
        // In its boot loader the node sends no heartbeat and answers no other request.
        net->Inject(Frame(0x61E, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}));
        frames = Run(6000 * kMs);
        EXPECT_TRUE(From(frames, 30).empty()) << c.what;
        EXPECT_FALSE(Heartbeats(frames, 31).empty());

        frames = Download(c.wrongCrc ? uint16_t(Crc() ^ 0x0101) : Crc());
        if (c.restarts) {
            const auto hb = Heartbeats(frames, 30);
            ASSERT_GE(hb.size(), 2u) << c.what;
            EXPECT_EQ(hb[0], Frame(0x71E, {0}));
            EXPECT_EQ(hb[1], Frame(0x71E, {5}));
            EXPECT_EQ(net->NodeState(30)->version, 0x4702);
            auto answer = WithId(Send(Frame(0x61E, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0})), 0x59E);
            EXPECT_EQ(answer, std::vector<Frame>{Frame(0x59E, {0x4B, 0x0F, 0x20, 0x00, 0x02, 0x47, 0, 0})});
        } else {
            EXPECT_TRUE(From(frames, 30).empty()) << c.what;
            EXPECT_EQ(net->NodeState(30)->mode, NodeMode::BootLoader);
            EXPECT_EQ(net->NodeState(30)->version, 0x4601);
        }
        // A node outside its boot loader takes no part.
        EXPECT_EQ(net->NodeState(31)->version, 0x4601);
        EXPECT_EQ(net->NodeState(31)->mode, NodeMode::Operational);
    }
}

TEST_F(BootLoaderOnBus, ASilentNodeTakesTheNextDownload) {
    Add(Device(30, 30));
    Boot();
    GoBootLoader(30);
    Download(0x1234);
    EXPECT_EQ(net->NodeState(30)->mode, NodeMode::BootLoader);
    EXPECT_EQ(net->NodeState(30)->bootLoaderCrcMismatches, 1u);
    // Asked again, it confirms from its boot loader.
    EXPECT_EQ(WithId(GoBootLoader(30), 0x59E).size(), 1u);
    Download(Crc());
    EXPECT_EQ(net->NodeState(30)->mode, NodeMode::Operational);
    EXPECT_EQ(net->NodeState(30)->version, 0x4702);
}

}  // namespace
