// The protocol library on vcan0 through a registry line "socketcan 0 vcan0", with can-utils as the
// other nodes: heartbeats, status and analog frames in, parameter writes out, a flood, the interface
// taken down and up, and a registry naming an interface that does not exist. Runs inside the test
// machine of run.sh, where vcan0 exists and may be taken down.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "Morvand.h"
#include "logserver/Pelkin.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool Sh(const std::string& command) { return std::system(command.c_str()) == 0; }

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound = 5s) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

int16_t Read(uint8_t node, uint8_t index, uint8_t kind = 3) {
    uint16_t v = 0xBEEF;
    EXPECT_TRUE(_RdDBValue(node, index, kind, &v));
    return int16_t(v);
}

// A node's presence and operational bits, in node 127's words.
bool Bit(uint8_t firstIndex, uint8_t n) {
    return (Read(127, uint8_t(firstIndex + (n - 21) / 16)) >> ((n - 21) % 16)) & 1;
}
bool Present(uint8_t n) { return Bit(5, n); }
bool Operational(uint8_t n) { return Bit(12, n); }

// candump's first frame with the identifier, as "228#96000008000000"; "" after 3 s of silence.
std::future<std::string> Candump(unsigned id) {
    return std::async(std::launch::async, [id] {
        char command[64];
        std::snprintf(command, sizeof command, "candump -L -n 1 -T 3000 vcan0,%03X:7FF", id);
        FILE* dump = popen(command, "r");
        char line[128] = {};
        const bool got = dump && std::fgets(line, sizeof line, dump);
        if (dump) pclose(dump);
        std::string frame = got ? line : "";
        frame.erase(0, frame.rfind(' ') + 1);
        while (!frame.empty() && frame.back() == '\n') frame.pop_back();
        return frame;
    });
}

// The frame a write makes, as candump shows it. candump needs a moment to listen: the write is
// repeated until it has seen one.
std::string WrittenFrame(unsigned id, uint8_t node, uint8_t index, int16_t value) {
    auto dump = Candump(id);
    for (int i = 0; i < 15 && dump.wait_for(200ms) != std::future_status::ready; ++i)
        EXPECT_TRUE(_WrDBValue(node, index, 3, value));
    return dump.get();
}

class Vcan : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::create_directories(root);
        std::ofstream(root / "Morvand.ini") << "[General]\r\ntopSpeed=1\r\n";
        std::ofstream(root / "vcan0.reg") << "socketcan 0 vcan0\n";
        std::ofstream(root / "vcan9.reg") << "socketcan 0 vcan9\n";
        fs::current_path(root);
    }
    void SetUp() override {
        fs::remove(root / "LOG.log");
        _PELKINCreate(root.c_str(), "LOG", 0);
        Registry("vcan0.reg");
    }
    void TearDown() override {
        _DestroyCANThread();
        _PELKINEnd();
        _PELKINDestroy();
    }
    static void Registry(const char* file) { setenv("XAT11REG_FILE", (root / file).c_str(), 1); }
    static void Start() {
        ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
        Drain();
    }
    static void Drain() {
        TRxMsg msg;
        while (_GetRxMsg(&msg)) {}
    }
    static std::string Log() {
        std::stringstream text;
        text << std::ifstream(root / "LOG.log").rdbuf();
        return text.str();
    }
    static bool Logged(const std::string& line) {
        return Eventually([&] { return Log().find(line) != std::string::npos; });
    }
    static inline const fs::path root = "/tmp/vcan";
};

TEST_F(Vcan, HeartbeatsMakeNodesPresentUntilTheyStop) {
    Start();
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(Sh("cansend vcan0 71E#05 && cansend vcan0 71F#7F"));  // 30 operational, 31 pre-operational
    ASSERT_TRUE(Eventually([] { return Present(30) && Operational(30) && Present(31) && !Operational(31); }));
    std::this_thread::sleep_until(sent + 2500ms);
    EXPECT_TRUE(Present(30) && Present(31));
    EXPECT_TRUE(Eventually([] { return !Present(30) && !Operational(30) && !Present(31); }, 2s));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 3000ms);
}

struct Decoded {
    int entry;  // of the node database, for the message
    uint8_t kind, index;
    int16_t value;
};

// Node 30's status frame 19E#157F527063A781C8 and analog frame 29E#FF7F004000803412.
const Decoded kDecoded[] = {
    {1, 3, 14, 21}, {3, 3, 1, -1},  {4, 3, 21, 5},   {5, 3, 22, 2},  {6, 3, 2, -1},     {7, 3, 3, 0},
    {8, 3, 4, 3},   {9, 3, 5, 3},   {26, 3, 13, 10}, {10, 3, 20, 7}, {19, 3, 11, 1},    {12, 3, 23, 1},
    {14, 3, 6, 0},  {25, 3, 12, 200}, {21, 2, 5, -1}, {22, 2, 6, -16384}, {23, 2, 7, 0}, {24, 2, 4, 0x1234},
};

TEST_F(Vcan, StatusAndAnalogFramesDecode) {
    Start();
    ASSERT_TRUE(Sh("cansend vcan0 19E#157F527063A781C8 && cansend vcan0 29E#FF7F004000803412"));
    ASSERT_TRUE(Eventually([] { return Read(30, 4, 2) == 0x1234; }));  // the analog frame, sent last
    for (const Decoded& d : kDecoded) EXPECT_EQ(Read(30, d.index, d.kind), d.value) << "entry " << d.entry;
}

TEST_F(Vcan, ParameterWritesGoOutAsTheirFrames) {
    Start();
    EXPECT_EQ(WrittenFrame(0x228, 40, 1, 22), "228#96000008000000");      // set-point: command frame
    EXPECT_EQ(WrittenFrame(0x628, 40, 24, 30), "628#2F0620011E000000");  // parameter: SDO download
}

// cangen at its highest rate while nobody reads: the ring keeps 19 frames and marks the newest one.
TEST_F(Vcan, FloodFillsTheRingAndTheLibraryGoesOn) {
    Start();
    Sh("timeout 10 cangen vcan0 -g 0 -i");
    TRxMsg kept[20];
    int n = 0;
    while (n < 20 && _GetRxMsg(&kept[n])) ++n;
    ASSERT_EQ(n, 19);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(kept[i].Status, i == 18 ? MORVAND_RX_OVERRUN : 0) << i;
        EXPECT_EQ(kept[i].Spare[0] | kept[i].Spare[1], 0);
    }
    ASSERT_TRUE(Sh("cansend vcan0 720#05"));
    EXPECT_TRUE(Eventually([] { return Present(32); }));
    EXPECT_EQ(WrittenFrame(0x228, 40, 1, 23), "228#97000008000000");
}

// cangen far faster than the board hands frames on, into a socket buffer of a few frames: the
// kernel drops most, and a reader that keeps draining sees each gap in cangen's counter marked on
// the frame before it. The board says so in the log.
TEST_F(Vcan, FramesTheKernelDroppedAreMarked) {
    const std::string rmem = "/proc/sys/net/core/rmem_default";
    std::string saved;
    std::getline(std::ifstream(rmem), saved);
    std::ofstream(rmem) << 8192;
    Start();
    std::ofstream(rmem) << saved;
    auto flood = std::async(std::launch::async, [] { return Sh("cangen vcan0 -g 0 -I 7A5 -L 8 -D i -n 20000"); });
    std::vector<TRxMsg> got;
    auto drain = [&] {
        for (TRxMsg m; _GetRxMsg(&m);)
            if (m.Id == 0x7A5) got.push_back(m);
    };
    while (flood.wait_for(1ms) != std::future_status::ready) drain();
    std::this_thread::sleep_for(100ms);
    drain();
    EXPECT_TRUE(flood.get());
    ASSERT_GT(got.size(), 1u);
    auto counter = [](const TRxMsg& m) {
        uint64_t c = 0;
        for (int i = 7; i >= 0; --i) c = c << 8 | m.Data[i];
        return c;
    };
    size_t gaps = 0;
    for (size_t i = 0; i + 1 < got.size(); ++i) {
        const bool gap = counter(got[i + 1]) != counter(got[i]) + 1;
        gaps += gap;
        EXPECT_EQ(got[i].Status, gap ? MORVAND_RX_OVERRUN : 0) << "frame " << counter(got[i]);
    }
    EXPECT_GT(gaps, 0u) << got.size() << " frames came through";
    EXPECT_TRUE(Logged("Message: [vcan0: received frames lost]"));
}

// Down: one log line, nothing is queued; up: one log line, frames flow both ways again.
struct Outage {
    const char* name;
    bool whileRunning;  // else before the library starts
    const char* down;
    uint8_t node;  // a node whose heartbeat shows frames coming in again
};

const Outage kOutages[] = {
    {"WhileRunning", true, "ip link set vcan0 down", 33},
    {"AtStart", false, "ip link set vcan0 down", 34},
    {"Replugged", true, "ip link del vcan0 && ip link add dev vcan0 type vcan", 35},
};

class InterfaceDown : public Vcan, public ::testing::WithParamInterface<Outage> {
protected:
    void TearDown() override {
        Sh("ip link add dev vcan0 type vcan 2>/dev/null; ip link set vcan0 up");
        Vcan::TearDown();
    }
};

TEST_P(InterfaceDown, ThenUp) {
    const Outage& o = GetParam();
    if (o.whileRunning) Start();
    ASSERT_TRUE(Sh(o.down));
    if (!o.whileRunning) Start();
    EXPECT_TRUE(Logged("Message: [vcan0: interface down]"));
    EXPECT_FALSE(_SendErase());
    ASSERT_TRUE(Sh("ip link set vcan0 up"));
    EXPECT_TRUE(Logged("Message: [vcan0: interface up]"));
    char heartbeat[40];
    std::snprintf(heartbeat, sizeof heartbeat, "cansend vcan0 %03X#05", 0x700 + o.node);
    ASSERT_TRUE(Sh(heartbeat));
    EXPECT_TRUE(Eventually([&] { return Present(o.node); }));
    EXPECT_EQ(WrittenFrame(0x228, 40, 1, 25), "228#99000008000000");
}

INSTANTIATE_TEST_SUITE_P(Vcan, InterfaceDown, ::testing::ValuesIn(kOutages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Vcan, MissingInterfaceIsNamedInTheLog) {
    Registry("vcan9.reg");
    EXPECT_EQ(_CreateCANThread(".//Morvand"), 3);
    EXPECT_TRUE(Logged("vcan9: no such interface"));
    EXPECT_TRUE(Logged("MORVAND Protocol USB-CAN Not Initialized"));
}

}  // namespace
