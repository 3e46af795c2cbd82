// The SocketCAN back-end on a virtual interface (vcan0, or the one TELVOX_TEST_CAN names). Where
// the kernel has no CAN support or no such interface exists, the test skips itself; make vcan runs
// it in a test machine that has both.
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "board/BoardFixture.h"

namespace {

using namespace boardtest;

class SocketCan : public ::testing::Test {
protected:
    void SetUp() override {
        current = &received;
        peer = socket(PF_CAN, SOCK_RAW, CAN_RAW);
        if (peer < 0) GTEST_SKIP() << "no SocketCAN support in this kernel";
        const char* name = std::getenv("TELVOX_TEST_CAN");
        interfaceName = name && *name ? name : "vcan0";
        const unsigned index = if_nametoindex(interfaceName.c_str());
        if (index == 0) GTEST_SKIP() << "no interface " << interfaceName;
        sockaddr_can address{};
        address.can_family = AF_CAN;
        address.can_ifindex = int(index);
        ASSERT_EQ(bind(peer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        registry = std::string("/tmp/socketcan_test_") + std::to_string(getpid()) + ".reg";
        std::ofstream(registry) << "socketcan 0 " << interfaceName << "\n";
        setenv("XAT11REG_FILE", registry.c_str(), 1);
    }
    void TearDown() override {
        if (board >= 0) VCI_CancelBoard(uint16_t(board));
        if (peer >= 0) close(peer);
        if (!registry.empty()) {
            unsetenv("XAT11REG_FILE");
            unlink(registry.c_str());
        }
    }
    void Start() {
        board = VCI2_PrepareBoard(VCI_BOARD_SOCKETCAN, 0, nullptr, 0, OnMessage, OnReceive, nullptr);
        ASSERT_GE(board, 0);
        b = uint16_t(board);
        VCI_InitCan(b, 0, 0x03, 0x1C, 0);
        VCI_ConfigQueue(b, 0, 0, 120, 0, 0, 0, &tx);
        VCI_ConfigQueue(b, 0, 1, 50, 1, 0, 100, &rx);
        ASSERT_EQ(VCI_StartCan(b, 0), 1);
    }
    Received received;
    int peer = -1;
    int32_t board = -1;
    uint16_t b = 0, tx = 0, rx = 0;
    std::string interfaceName, registry;
};

TEST_F(SocketCan, FramesBothWaysAndNoEcho) {
    ASSERT_NO_FATAL_FAILURE(Start());

    can_frame in{};
    in.can_id = 0x19E;
    in.can_dlc = 8;
    for (int i = 0; i < 8; ++i) in.data[i] = uint8_t(i + 1);
    ASSERT_EQ(write(peer, &in, sizeof in), ssize_t(sizeof in));
    can_frame extended = in;
    extended.can_id = 0x1234 | CAN_EFF_FLAG;  // not a standard frame: never delivered
    ASSERT_EQ(write(peer, &extended, sizeof extended), ssize_t(sizeof extended));
    can_frame remote = in;
    remote.can_id = 0x19E | CAN_RTR_FLAG;  // nor is a remote frame
    ASSERT_EQ(write(peer, &remote, sizeof remote), ssize_t(sizeof remote));
    for (int i = 0; i < 2000 && received.Count() == 0; ++i) usleep(1000);
    usleep(20000);
    auto objects = received.Take();
    ASSERT_EQ(objects.size(), 1u);
    const uint32_t id = objects[0].id;  // packed: read it out first
    EXPECT_EQ(id, 0x19Eu);
    EXPECT_EQ(objects[0].len, 8);
    EXPECT_EQ(objects[0].data[7], 8);

    const uint8_t data[2] = {0x55, 0xAA};
    ASSERT_EQ(VCI_TransmitObj(b, tx, 0x494, 2, data), 1);
    can_frame out{};
    ASSERT_EQ(read(peer, &out, sizeof out), ssize_t(sizeof out));
    EXPECT_EQ(out.can_id, 0x494u);
    EXPECT_EQ(out.can_dlc, 2);
    for (int i = 0; i < 2000 && VCI_ReadQueStatus(b, tx) > 0; ++i) usleep(1000);
    EXPECT_EQ(VCI_ReadQueStatus(b, tx), 0);
    usleep(20000);
    EXPECT_EQ(received.Count(), 0u);  // our own frame is not received back
}

// A burst beyond the queue's 120 entries: what was accepted reaches the bus whole and in order,
// the fill level never passes the queue's size and drops back to 0.
TEST_F(SocketCan, TransmitQueueLevelAndOrder) {
    ASSERT_NO_FATAL_FAILURE(Start());
    std::vector<int> heard, accepted;
    std::thread listener([&] {
        pollfd p{peer, POLLIN, 0};
        can_frame f{};
        while (poll(&p, 1, 1000) > 0 && read(peer, &f, sizeof f) == ssize_t(sizeof f))
            heard.push_back(f.data[0] | f.data[1] << 8);
    });
    int highest = 0;
    for (int i = 0; i < 400; ++i) {
        const uint8_t data[2] = {uint8_t(i), uint8_t(i >> 8)};
        if (VCI_TransmitObj(b, tx, 0x300, 2, data) == 1) accepted.push_back(i);
        highest = std::max(highest, int(VCI_ReadQueStatus(b, tx)));
    }
    listener.join();
    EXPECT_GE(accepted.size(), 120u);
    EXPECT_LE(highest, 120);
    EXPECT_EQ(heard, accepted);
    EXPECT_EQ(VCI_ReadQueStatus(b, tx), 0);
}

// The queue takes exactly its 120 entries. Its writer must not empty it meanwhile (vcan0 takes
// every frame at once): the test thread holds the one CPU at real-time priority, which the board's
// threads inherit, so they run only when it lets them.
TEST_F(SocketCan, TransmitQueueTakesExactlyItsEntries) {
    cpu_set_t cpus, one;
    sched_getaffinity(0, sizeof cpus, &cpus);
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    const sched_param realTime{1}, normal{0};
    if (sched_setaffinity(0, sizeof one, &one) || sched_setscheduler(0, SCHED_FIFO, &realTime))
        GTEST_SKIP() << "needs real-time priority (root)";
    Start();
    int accepted = 0;
    const uint8_t data[1] = {};
    for (int i = 0; i < 121; ++i) accepted += VCI_TransmitObj(b, tx, 0x300, 1, data) == 1;
    const int level = VCI_ReadQueStatus(b, tx);
    sched_setscheduler(0, SCHED_OTHER, &normal);
    sched_setaffinity(0, sizeof cpus, &cpus);
    EXPECT_EQ(accepted, 120);
    EXPECT_EQ(level, 120);
}

}  // namespace
