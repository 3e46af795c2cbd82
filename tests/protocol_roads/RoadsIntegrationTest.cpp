// The whole roads against the simulated network: libMorvand as callers load it, the board library
// on the simulated bus, and nodes that answer. Each test follows a write from the export to the
// frame on the bus, the node's answer, the change flag and the value read back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "HexRecords.h"
#include "Morvand.h"
#include "sim/BootLoader.h"
#include "sim/Network.h"

namespace fs = std::filesystem;

namespace {

constexpr uint16_t ControllerVersion = 0x3107;

// Waits (bounded) until the condition holds; the bound only keeps a failing test from hanging.
bool Eventually(const std::function<bool()>& condition, int ms = 10000) {
    for (int i = 0; i < ms; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

uint16_t Read(uint8_t node, uint8_t index, uint8_t kind = 3) {
    uint16_t v = 0xBEEF;
    EXPECT_TRUE(_RdDBValue(node, index, kind, &v)) << int(node) << "/" << int(index) << "/" << int(kind);
    return v;
}

// Drains the received frames until each node's operational heartbeat has come in: from then on
// the library knows it present (the database itself may still show an earlier run).
bool WaitHeartbeats(std::vector<uint8_t> nodes) {
    return Eventually([&] {
        TRxMsg msg;
        while (_GetRxMsg(&msg))
            if ((msg.Id & 0x780) == 0x700 && msg.Data[0] == 5) std::erase(nodes, uint8_t(msg.Id & 0x7F));
        return nodes.empty();
    });
}

sim::NodeConfig Device(uint8_t number, uint16_t version) {
    sim::NodeConfig c;
    c.number = number;
    c.version = version;
    c.heartbeatPeriod = 200 * sim::kMs;
    c.values.master = number;
    c.values.setPoint = 20;
    c.values.lg = 1;
    for (int i = 0; i < 10; ++i) {
        c.values.params2006[i] = uint8_t(10 + number % 10 + i);
        c.values.params2007[i] = int8_t(-5 - i);
    }
    return c;
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A temporary installation: the working folder holds Morvand.ini, the registry lists the simulated
// board, and the node-description file lies where the unit interface looks for it.
class Roads : public ::testing::Test {
protected:
    fs::path root, previous;
    std::shared_ptr<sim::Network> net = std::make_shared<sim::Network>();

    void SetUp() override {
        previous = fs::current_path();
        char pattern[] = "/tmp/roadsXXXXXX";
        root = mkdtemp(pattern);
        WriteFile(root / "work" / "Morvand.ini",
                  "[General]\r\ntopSpeed=1\r\nlogEn=0\r\nlogDur=7\r\n[Linea 1]\r\nLinea=2\r\n");
        WriteFile(root / "Xat11reg.reg", "simulated 0\n");
        setenv("XAT11REG_FILE", (root / "Xat11reg.reg").c_str(), 1);
        fs::current_path(root / "work");
        for (uint8_t n : {40, 41, 42, 45}) net->AddNode(Device(n, 0x4601));
        sim::NodeConfig controller;
        controller.number = 127;
        controller.version = ControllerVersion;
        controller.heartbeatPeriod = 200 * sim::kMs;
        net->AddNode(controller);
        sim::Network::Install(net);
        net->SetCapture(true);
    }
    void TearDown() override {
        _DestroyCANThread();
        sim::Network::Install(nullptr);
        fs::current_path(previous);
        fs::remove_all(root);
    }

    void Start() {
        ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
        // The database outlives the instance: start from no change marks, and wait until this
        // network's nodes run and have reported themselves (set-point 20).
        for (int n = 0; n < 128; ++n) _NodeChanged(uint8_t(n));
        ASSERT_TRUE(WaitHeartbeats({40, 41, 42, 45}));
        for (uint8_t n : {40, 41, 42, 45}) ASSERT_TRUE(Eventually([&] { return Read(n, 1) == 20; })) << int(n);
        seen.clear();
        Bus();
    }
    // Waits until the bus has carried the frame (from the library unless told otherwise).
    bool WaitCarried(uint32_t id, std::vector<uint8_t> data, int sender = sim::kSenderHost) {
        return Eventually([&] {
            for (auto& f : Bus()) seen.push_back(f);
            return Carried(seen, id, data, sender);
        });
    }
    std::vector<sim::BusFrame> seen;
    // The frames the bus carried since the last call.
    std::vector<sim::BusFrame> Bus() { return net->TakeCapture(); }
    static bool Carried(const std::vector<sim::BusFrame>& frames, uint32_t id, std::vector<uint8_t> data,
                        int sender = sim::kSenderHost) {
        for (const auto& f : frames)
            if (f.frame.id == id && f.sender == sender && f.frame.len == data.size() &&
                std::equal(data.begin(), data.end(), f.frame.data.begin()))
                return true;
        return false;
    }
    sim::NodeValues NodeValues(uint8_t node) { return net->NodeState(node)->values; }
    // Waits for the exchange a write started to end (integer index 18 back to 0).
    static bool ExchangeEnded(uint8_t node) {
        return Eventually([&] { return Read(node, 18) == 0; });
    }
};

struct TParameter {
    const char* Name;
    uint8_t Index, Kind;
    int16_t Value;
    uint8_t ChangeBit;
    uint16_t Object;  // the SDO object written; 0: a field of the command frame
    uint8_t Sub;
    std::function<int(const sim::NodeValues&)> NodeSide;
};

const TParameter Parameters[] = {
    {"SetPoint", 1, 3, 22, 0x02, 0, 0, [](const sim::NodeValues& v) { return v.setPoint; }},
    {"Offset", 2, 3, -2, 0x02, 0, 0, [](const sim::NodeValues& v) { return v.offset; }},
    {"Mode", 3, 3, 5, 0x02, 0, 0, [](const sim::NodeValues& v) { return v.mode; }},
    {"Fan", 4, 3, 3, 0x02, 0, 0, [](const sim::NodeValues& v) { return v.fan; }},
    {"FlagP", 6, 3, 1, 0x02, 0, 0, [](const sim::NodeValues& v) { return (v.flags >> 2) & 1; }},
    {"Master", 14, 3, 127, 0x02, 0x2008, 1, [](const sim::NodeValues& v) { return v.master; }},
    {"Lg", 21, 3, 5, 0x20, 0x200A, 1, [](const sim::NodeValues& v) { return v.lg; }},
    {"Ld", 22, 3, 3, 0x20, 0x2009, 1, [](const sim::NodeValues& v) { return v.ld; }},
    {"Ky", 20, 3, 7, 0x20, 0x200B, 1, [](const sim::NodeValues& v) { return v.ky; }},
    {"FlagM", 23, 3, 1, 0x20, 0x200C, 1, [](const sim::NodeValues& v) { return v.flags & 1; }},
    {"Parameter2006", 24, 3, 30, 0x20, 0x2006, 1, [](const sim::NodeValues& v) { return v.params2006[0]; }},
    {"Parameter2007", 43, 3, -3, 0x20, 0x2007, 10, [](const sim::NodeValues& v) { return v.params2007[9]; }},
};

class ParameterRoad : public Roads, public ::testing::WithParamInterface<TParameter> {};

TEST_P(ParameterRoad, WrittenValueReachesTheNodeAndReadsBack) {
    const TParameter& p = GetParam();
    Start();
    ASSERT_TRUE(ExchangeEnded(40));
    ASSERT_TRUE(_WrDBValue(40, p.Index, p.Kind, p.Value));
    if (p.Object != 0) {
        const uint8_t lo = uint8_t(p.Object), hi = uint8_t(p.Object >> 8);
        EXPECT_TRUE(WaitCarried(0x628, {0x2F, lo, hi, p.Sub, uint8_t(p.Value), 0, 0, 0}));
        EXPECT_TRUE(WaitCarried(0x5A8, {0x60, lo, hi, p.Sub, 0, 0, 0, 0}, 40));
    } else if (p.Index == 1) {
        EXPECT_TRUE(WaitCarried(0x228, {0x96, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}));
    }
    uint8_t changes = 0;
    ASSERT_TRUE(Eventually([&] {
        changes |= _NodeChanged(40);
        return (changes & p.ChangeBit) && int16_t(Read(40, p.Index, p.Kind)) == p.Value;
    })) << "read " << int16_t(Read(40, p.Index, p.Kind));
    EXPECT_EQ(p.NodeSide(NodeValues(40)), p.Value);
    ASSERT_TRUE(ExchangeEnded(40));
}

INSTANTIATE_TEST_SUITE_P(Writes, ParameterRoad, ::testing::ValuesIn(Parameters),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TRefusedParameter {
    const char* Name;
    sim::NodeFaults::Sdo Fault;  // for the one object written
    uint8_t Index;
    int16_t Value;
    uint16_t Object;
};

class RefusedParameterRoad : public Roads, public ::testing::WithParamInterface<TRefusedParameter> {};

TEST_P(RefusedParameterRoad, ReadsBackTheNodesValue) {
    const TRefusedParameter& r = GetParam();
    Start();
    ASSERT_TRUE(ExchangeEnded(40));
    // The library learns the parameters as the node holds them.
    ASSERT_TRUE(_WrDBValue(40, 18, 3, 2));
    ASSERT_TRUE(WaitCarried(0x628, {0x40, 0x05, 0x20, 0x05, 0, 0, 0, 0}));
    ASSERT_TRUE(ExchangeEnded(40));
    const auto before = int16_t(Read(40, r.Index));
    sim::NodeFaults faults;
    faults.sdo = r.Fault;
    faults.sdoObject = r.Object;
    net->SetFaults(40, faults);
    ASSERT_TRUE(_WrDBValue(40, r.Index, 3, r.Value));
    EXPECT_EQ(int16_t(Read(40, r.Index)), before);
    // A request is taken again once the download's exchange has ended.
    ASSERT_TRUE(Eventually([] { return _WrDBValue(40, 18, 3, 5); }));
    ASSERT_TRUE(WaitCarried(0x628, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}));
    ASSERT_TRUE(ExchangeEnded(40));
    EXPECT_EQ(int16_t(Read(40, r.Index)), before);
    EXPECT_NE(before, r.Value);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, RefusedParameterRoad,
    ::testing::Values(TRefusedParameter{"Aborted2006", sim::NodeFaults::Sdo::Abort, 24, 30, 0x2006},
                      TRefusedParameter{"Unanswered2007", sim::NodeFaults::Sdo::Silent, 43, -3, 0x2007}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TVersionCase {
    const char* Name;
    uint8_t Asked;      // the node written to; the controller is asked as 126
    uint8_t Responder;  // the node that answers
    uint16_t Version;
};

class VersionRoad : public Roads, public ::testing::WithParamInterface<TVersionCase> {};

TEST_P(VersionRoad, RequestEndsWithTheVersionInIndex16) {
    const TVersionCase& c = GetParam();
    Start();
    ASSERT_TRUE(ExchangeEnded(c.Asked));
    ASSERT_TRUE(_WrDBValue(c.Asked, 18, 3, 5));
    ASSERT_TRUE(WaitCarried(0x600u + c.Responder, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}));
    ASSERT_TRUE(ExchangeEnded(c.Asked));
    EXPECT_TRUE(WaitCarried(0x580u + c.Responder,
                            {0x4B, 0x0F, 0x20, 0x00, uint8_t(c.Version), uint8_t(c.Version >> 8), 0, 0}, c.Responder));
    EXPECT_EQ(Read(c.Asked, 16), c.Version);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionRoad,
                         ::testing::Values(TVersionCase{"Device", 41, 41, 0x4601},
                                           TVersionCase{"ControllerThrough126", 126, 127, ControllerVersion}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Roads, ParameterUploadFillsIndexes24To43) {
    net->ChangeValues(42, [](sim::NodeValues& v) {
        for (int i = 0; i < 10; ++i) {
            v.params2006[i] = uint8_t(100 + i);
            v.params2007[i] = int8_t(-100 - i);
        }
    });
    Start();
    ASSERT_TRUE(ExchangeEnded(42));
    ASSERT_TRUE(_WrDBValue(42, 18, 3, 2));
    ASSERT_TRUE(WaitCarried(0x62A, {0x40, 0x05, 0x20, 0x01, 0, 0, 0, 0}));
    ASSERT_TRUE(ExchangeEnded(42));
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Read(42, uint8_t(24 + i)), 100 + i);
        EXPECT_EQ(int16_t(Read(42, uint8_t(34 + i))), -100 - i);
    }
    for (uint8_t sub = 1; sub <= 5; ++sub) EXPECT_TRUE(WaitCarried(0x62A, {0x40, 0x05, 0x20, sub, 0, 0, 0, 0}));
}

// ---- Firmware download into three nodes at once.

struct TImage {
    std::vector<std::string> Records;
    uint16_t Crc;
};

// An image of known bytes with the version word at its place; the CRC runs over the whole image
// area on a background of 0xFF.
TImage BuildImage(size_t bytes, uint16_t version) {
    std::vector<uint8_t> image(sim::kImageSize, 0xFF);
    TImage out;
    out.Records.push_back(HexRecord(0, 4, {0x00, 0x00}));
    for (size_t a = 0; a < bytes; a += 16) {
        std::vector<uint8_t> data;
        for (size_t i = a; i < std::min(bytes, a + 16); ++i) data.push_back(uint8_t(i * 7 + (i >> 8)));
        std::copy(data.begin(), data.end(), image.begin() + long(a));
        out.Records.push_back(HexRecord(uint16_t(a), 0, data));
    }
    const std::vector<uint8_t> word = {uint8_t(version), uint8_t(version >> 8)};
    image[sim::kVersionAddress] = word[0];
    image[sim::kVersionAddress + 1] = word[1];
    out.Records.push_back(HexRecord(sim::kVersionAddress, 0, word));
    out.Records.push_back(HexRecord(0, 1, {}));
    out.Crc = sim::Crc16(image.data(), image.size());
    return out;
}

TEST_F(Roads, FirmwareReachesThreeNodesWhichRestartWithTheNewVersion) {
    Start();
    const uint16_t newVersion = 0x4702;
    const TImage image = BuildImage(1024, newVersion);
    const uint8_t nodes[] = {40, 41, 42};
    for (uint8_t n : nodes) {
        ASSERT_TRUE(_SendGoBootLdr(n));
        ASSERT_TRUE(Eventually([&] { return _GoBootLdrConfirmed(n); })) << int(n);
    }
    ASSERT_TRUE(_SendErase());
    for (const std::string& record : image.Records) {
        // Room for the whole record in the transmit queue of 120 frames.
        ASSERT_TRUE(Eventually([] { return _ReadTxQueueStatus() <= 114; }));
        for (uint8_t kind = 0; kind <= 5; ++kind) ASSERT_TRUE(_SendLine(kind, record.c_str())) << record;
    }
    ASSERT_TRUE(Eventually([] { return _ReadTxQueueStatus() == 0; }));
    for (uint8_t n : nodes) EXPECT_EQ(net->NodeState(n)->recordsTaken, image.Records.size()) << int(n);
    TRxMsg msg;
    while (_GetRxMsg(&msg)) {
    }
    ASSERT_TRUE(_SendCRC(image.Crc));
    ASSERT_TRUE(WaitHeartbeats({40, 41, 42}));
    for (uint8_t n : nodes) {
        ASSERT_TRUE(Eventually([&] {
            const auto s = net->NodeState(n);
            return s->version == newVersion && s->mode == sim::NodeMode::Operational;
        })) << int(n);
    }
    // The restarted nodes report the new version through the library.
    for (uint8_t n : nodes) {
        ASSERT_TRUE(_WrDBValue(n, 18, 3, 5));
        ASSERT_TRUE(WaitCarried(0x600u + n, {0x40, 0x0F, 0x20, 0x00, 0, 0, 0, 0}));
        ASSERT_TRUE(ExchangeEnded(n));
        EXPECT_EQ(Read(n, 16), newVersion) << int(n);
    }
    EXPECT_EQ(net->NodeState(45)->version, 0x4601);
}

// ---- The unit-based interface on its node-description file.

class UnitRoads : public Roads {
protected:
    void SetUp() override {
        Roads::SetUp();
        WriteFile(root / "data" / "nodes" / "node0" / "nd_0.ncf",
                  "; units of the plant\r\n2,99,0,0,7777\r\n[Units]\r\n; line, node, -, -, unit\r\n"
                  "2,45,0,0,1203\r\n\r\n3,46,0,0,1204\r\n2,\"40\" 0 0 1240\r\n");
    }
};

TEST_F(UnitRoads, UnitsOfTheLineAreServed) {
    int32_t state = -1;
    ASSERT_EQ(InitDriverEx(".//Morvand", &state, 1), 0);
    EXPECT_EQ(state, 0);
    ASSERT_TRUE(WaitHeartbeats({40, 45}));
    EXPECT_EQ(GetUnitStatus(1203), 0);
    EXPECT_EQ(GetUnitStatus(1204), 1);  // another line's unit
    EXPECT_EQ(GetUnitStatus(7777), 1);  // before the section
    uint16_t w = 0;
    ASSERT_EQ(ReadDBValue(1203, 0, 1, &w), 1);
    EXPECT_EQ(w, 0);
    ASSERT_EQ(SendValue(1240, 1, 1, 23), 0);
    ASSERT_TRUE(Eventually([&] { return ReadDBValue(1240, 1, 3, &w) == 1 && w == 23; }));
    EXPECT_EQ(NodeValues(40).setPoint, 23);
    EXPECT_EQ(LocDrvClose(), 0);
    EXPECT_EQ(GetUnitStatus(1203), 1);
}

struct TInitCase {
    const char* Name;
    std::string Ini;  // empty: no settings file
    int16_t Mode;
    int16_t Result;
};

const TInitCase InitCases[] = {
    {"NoSettings", "", 1, 99},
    {"NoLogEnable", "[General]\r\ntopSpeed=1\r\nlogDur=7\r\n", 1, 81},
    {"LogDurationZero", "[General]\r\ntopSpeed=1\r\nlogEn=1\r\nlogDur=0\r\n", 1, 82},
    {"LogDurationTooLong", "[General]\r\ntopSpeed=1\r\nlogEn=1\r\nlogDur=999\r\n", 1, 82},
    {"ModeNotOne", "[General]\r\ntopSpeed=1\r\nlogEn=0\r\nlogDur=7\r\n[Linea 1]\r\nLinea=2\r\n", 0, 98},
    {"BadSpeed", "[General]\r\ntopSpeed=3\r\nlogEn=0\r\nlogDur=7\r\n", 1, 2},
    {"NoLine", "[General]\r\ntopSpeed=1\r\nlogEn=0\r\nlogDur=7\r\n", 1, 12},
};

class InitDriverTest : public UnitRoads, public ::testing::WithParamInterface<TInitCase> {};

TEST_P(InitDriverTest, ReportsWhatStoppedIt) {
    const TInitCase& c = GetParam();
    fs::remove("Morvand.ini");
    if (!c.Ini.empty()) WriteFile(fs::current_path() / "Morvand.ini", c.Ini);
    int32_t state = -1;
    EXPECT_EQ(InitDriverEx(".//Morvand", &state, c.Mode), c.Result);
    // Every failure but the log settings' leaves nothing running.
    EXPECT_FALSE(_SendErase());
}

INSTANTIATE_TEST_SUITE_P(Init, InitDriverTest, ::testing::ValuesIn(InitCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(UnitRoads, MissingNodeFileAndMalformedLines) {
    fs::remove(root / "data" / "nodes" / "node0" / "nd_0.ncf");
    EXPECT_EQ(InitDriverEx(".//Morvand", nullptr, 1), 11);
    WriteFile(root / "data" / "nodes" / "node0" / "nd_0.ncf", "[Units]\r\n2,45,0,0,1203\r\nx,46,0,0,1204\r\n");
    EXPECT_EQ(InitDriverEx(".//Morvand", nullptr, 1), 13);
}

}  // namespace
