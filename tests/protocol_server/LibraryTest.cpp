// The shipped library through its exports, on the real board library, registry and simulated
// network (bus time advanced by the test), with the log server writing into a test folder.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Morvand.h"
#include "logserver/Pelkin.h"
#include "rtl/Clock.h"
#include "sim/Network.h"

namespace {

namespace fs = std::filesystem;

bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 5000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

class LibraryTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("morvand_library_" + std::to_string(getpid()));
    std::string base = (dir / "Morvand").string();
    std::shared_ptr<sim::Network> net = std::make_shared<sim::Network>();
    rtl::ManualClock clock;
    rtl::ScopedClock scopedClock{clock};
    std::vector<TRxMsg> frames;

    void SetUp() override {
        fs::create_directories(dir);
        Registry("simulated 0\n");
        setenv("XAT11REG_FILE", (dir / "Xat11reg.reg").c_str(), 1);
        net->SetTimeMode(sim::TimeMode::Manual);
        for (uint8_t n : {30, 31, 127}) {
            sim::NodeConfig node;
            node.number = n;
            node.operational = n != 31;
            net->AddNode(node);
        }
        sim::Network::Install(net);
        _PELKINCreate(dir.c_str(), "LOG", 0);
    }
    void TearDown() override {
        _DestroyCANThread();
        _PELKINEnd();
        _PELKINDestroy();
        sim::Network::Install(nullptr);
        unsetenv("XAT11REG_FILE");
        fs::remove_all(dir);
    }
    void Registry(const std::string& text) { std::ofstream(dir / "Xat11reg.reg") << text; }
    void Ini(const std::string& text) { std::ofstream(base + ".ini") << text; }
    // Runs the bus in steps, draining the receive ring after each as the program's poller does.
    void Run(sim::Time span) {
        for (sim::Time t = 0; t < span; t += 50 * sim::kMs) {
            net->Advance(50 * sim::kMs);
            TRxMsg m;
            while (_GetRxMsg(&m)) frames.push_back(m);
        }
    }
    static uint16_t Word(uint8_t node, uint8_t index, uint8_t kind) {
        uint16_t w = 0xDEAD;
        EXPECT_TRUE(_RdDBValue(node, index, kind, &w));
        return w;
    }
    std::string LogText() {
        _PELKINEnd();
        std::ifstream in(dir / "LOG.log");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(LibraryTest, RunsOnTheSimulatedNetworkAtTheSetSpeed) {
    for (auto [topSpeed, bitRate] : {std::pair{1, 125000u}, std::pair{0, 62500u}}) {
        Ini("[General]\r\ntopSpeed=" + std::to_string(topSpeed) + "\r\n");
        ASSERT_EQ(_CreateCANThread(base.c_str()), 0);
        EXPECT_EQ(net->BitRate(), bitRate);
        EXPECT_TRUE(_MORVANDIsProtocolBusy());
        Run(2500 * sim::kMs);
        EXPECT_EQ(Word(127, 5, 3), (1u << 9) | (1u << 10)) << "nodes 30 and 31 present";
        EXPECT_EQ(Word(127, 12, 3), 1u << 9) << "node 30 operational, 31 pre-operational";
        // The second instance finds them present already (the database is kept): no flip then.
        EXPECT_EQ(bool(_NodeChanged(127) & 0x80), topSpeed == 1);
        EXPECT_GT(frames.size(), 6u);
        for (const TRxMsg& m : frames) EXPECT_EQ(m.Status & MORVAND_RX_OVERRUN, 0);
        EXPECT_EQ(_DestroyCANThread(), 0);
        EXPECT_EQ(Word(127, 5, 3), (1u << 9) | (1u << 10)) << "values stay without an instance";
        frames.clear();
    }
    const std::string log = LogText();
    const auto created = log.find("MORVAND Protocol Created"), begun = log.find("MORVANDProtocolBegin");
    ASSERT_NE(created, std::string::npos);
    EXPECT_LT(created, begun);
    EXPECT_NE(log.find("TProtocol:Protocol on terminate"), std::string::npos);
}

TEST_F(LibraryTest, NodeWithoutHeartbeatDropsOutAfterThreeSeconds) {
    Ini("[General]\r\ntopSpeed=1\r\n");
    ASSERT_EQ(_CreateCANThread(base.c_str()), 0);
    Run(1500 * sim::kMs);
    ASSERT_EQ(Word(127, 5, 3) & (1u << 9), 1u << 9);
    sim::NodeFaults stopped;
    stopped.heartbeatStopped = true;
    net->SetFaults(30, stopped);
    Run(3000 * sim::kMs);  // heartbeats of node 31 only
    _NodeChanged(127);
    clock.Advance(2999);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Word(127, 5, 3), (1u << 9) | (1u << 10)) << "not yet";
    clock.Advance(2);
    EXPECT_TRUE(Eventually([] { return Word(127, 5, 3) == 0; })) << "neither sent a heartbeat since";
    EXPECT_EQ(_NodeChanged(127), 0x80);
}

TEST_F(LibraryTest, RefusedBoardGivesThreeAndASuspendedInstance) {
    Ini("[General]\r\ntopSpeed=1\r\n");
    Registry("simulated 1\n");  // no such board
    EXPECT_EQ(_CreateCANThread(base.c_str()), 3);
    EXPECT_FALSE(_MORVANDIsProtocolBusy());
    EXPECT_FALSE(net->HostAttached());
    TRxMsg m;
    EXPECT_FALSE(_GetRxMsg(&m));
    EXPECT_FALSE(_SendErase());
    EXPECT_EQ(_CreateCANThread(base.c_str()), 3) << "the instance is still there";
    void* registry = dlopen(XAT11REG_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(registry, nullptr) << "released after the set-up";
    if (registry) dlclose(registry);
    EXPECT_EQ(_DestroyCANThread(), 0);
    const std::string log = LogText();
    EXPECT_NE(log.find("MORVAND Protocol USB-CAN Not Initialized"), std::string::npos);
    EXPECT_NE(log.find("MORVAND Protocol NOT Created: already existent"), std::string::npos);
}

}  // namespace
