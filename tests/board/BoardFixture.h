// A board prepared on a simulated network that the test installed, set up with the calls and values
// the protocol library uses; received frames are collected.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/VCI11UN6.h"
#include "sim/Network.h"

namespace boardtest {

struct Received {
    std::mutex m;
    std::vector<VCI_CAN_OBJ> objects;
    std::vector<uint16_t> batches;
    std::vector<std::thread::id> threads;
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::atomic<int> firstCallMs{0};  // how long the first call keeps the board (a stalled machine)
    std::vector<std::string> messages;

    std::vector<VCI_CAN_OBJ> Take() {
        std::lock_guard lock(m);
        return std::exchange(objects, {});
    }
    size_t Count() {
        std::lock_guard lock(m);
        return objects.size();
    }
};

// The callbacks are plain functions: they reach the collector through this.
inline Received* current = nullptr;

inline void OnReceive(uint32_t, uint16_t count, VCI_CAN_OBJ* objects) {
    current->inside = true;
    if (current->calls == 0) std::this_thread::sleep_for(std::chrono::milliseconds(current->firstCallMs));
    {
        std::lock_guard lock(current->m);
        current->objects.insert(current->objects.end(), objects, objects + count);
        current->batches.push_back(count);
        current->threads.push_back(std::this_thread::get_id());
    }
    ++current->calls;
    current->inside = false;
}

inline void OnMessage(const char* text) {
    std::lock_guard lock(current->m);
    current->messages.push_back(text);
}

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        current = &received;
        net->SetTimeMode(sim::TimeMode::Manual);
        sim::Network::Install(net);
    }
    void TearDown() override {
        if (board >= 0) VCI_CancelBoard(uint16_t(board));
        sim::Network::Install(nullptr);
    }
    // Prepare, configure and start as the protocol library does.
    void Start(bool highSpeed = true) {
        board = VCI2_PrepareBoard(VCI_BOARD_SIMULATED, 0, nullptr, 0, OnMessage, OnReceive, nullptr);
        ASSERT_GE(board, 0);
        const uint16_t b = uint16_t(board);
        EXPECT_EQ(VCI_InitCan(b, 0, highSpeed ? 0x03 : 0x07, 0x1C, 0), 1);
        EXPECT_EQ(VCI_SetAccMask(b, 0, 0, 0), 1);
        EXPECT_EQ(VCI_ConfigQueue(b, 0, 0, 120, 0, 0, 0, &txQueue), 1);
        for (uint16_t i = 0; i < 10; ++i) EXPECT_EQ(VCI_ConfigBuffer(b, 0, 0, 0x100 + i, &buffers[i]), 1);
        EXPECT_EQ(VCI_ConfigQueue(b, 0, 1, 50, 1, 0, 100, &rxQueue), 1);
        EXPECT_EQ(VCI_AssignRxQueObj(b, rxQueue, 1, 0x296, 0xF800), 1);
        EXPECT_EQ(VCI_StartCan(b, 0), 1);
    }
    int32_t Transmit(const sim::Frame& f) { return VCI_TransmitObj(uint16_t(board), txQueue, f.id, f.len, f.data.data()); }
    int32_t Level() { return VCI_ReadQueStatus(uint16_t(board), txQueue); }

    std::shared_ptr<sim::Network> net = std::make_shared<sim::Network>();
    Received received;
    int32_t board = -1;
    uint16_t txQueue = 0, rxQueue = 0, buffers[10]{};
};

inline sim::Frame FrameOf(const VCI_CAN_OBJ& o) {
    sim::Frame f;
    f.id = o.id;
    f.len = o.len & 0x0F;
    std::copy(o.data, o.data + 8, f.data.begin());
    return f;
}

}  // namespace boardtest
