// Figures of the simulated bus behind the board calls:
//  - frames per second delivered to a receive callback on an unthrottled bus (stress tests must
//    not be limited by it: the aim is 200,000 frames/s or more);
//  - the processor time the simulated network costs per second of bus time at 100 % load of a
//    125 kbit/s bus, on the wall clock (as the program runs it) and on manual time.
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "board/VCI11UN6.h"
#include "sim/Network.h"

namespace {

std::atomic<uint64_t> frames{0};

void Count(uint32_t, uint16_t count, VCI_CAN_OBJ* objects) {
    uint32_t sum = 0;
    for (uint16_t i = 0; i < count; ++i) sum += objects[i].id;  // touch what arrives
    if (sum != 0) frames += count;
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::shared_ptr<sim::Network> LoadedNetwork(sim::TimeMode mode) {
    std::string error;
    auto net = sim::Network::Load(sim::Network::DefaultDescriptionPath(), &error);
    if (!net) {
        std::printf("(no shipped description: %s; background traffic only)\n", error.c_str());
        net = std::make_shared<sim::Network>();
    }
    net->SetTimeMode(mode);
    net->SetBackgroundLoad(100);
    sim::Network::Install(net);
    return net;
}

int32_t StartBoard() {
    const int32_t board = VCI2_PrepareBoard(VCI_BOARD_SIMULATED, 0, nullptr, 0, nullptr, Count, nullptr);
    uint16_t tx = 0, rx = 0;
    VCI_InitCan(uint16_t(board), 0, 0x03, 0x1C, 0);
    VCI_ConfigQueue(uint16_t(board), 0, 0, 120, 0, 0, 0, &tx);
    VCI_ConfigQueue(uint16_t(board), 0, 1, 50, 1, 0, 100, &rx);
    VCI_StartCan(uint16_t(board), 0);
    return board;
}

void Unthrottled() {
    LoadedNetwork(sim::TimeMode::Unthrottled);
    frames = 0;
    const auto start = std::chrono::steady_clock::now();
    const int32_t board = StartBoard();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    VCI_CancelBoard(uint16_t(board));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("unthrottled bus, 100 %% background + nodes: %.0f frames/s delivered to the callback (aim >= 200000)\n",
                double(frames) / seconds);
}

void RealTimeCost() {
    auto net = LoadedNetwork(sim::TimeMode::RealTime);
    frames = 0;
    const int32_t board = StartBoard();
    const sim::Time bus0 = net->Now();
    const double cpu0 = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double cpu = CpuSeconds() - cpu0;
    const double bus = double(net->Now() - bus0) / 1e9;
    VCI_CancelBoard(uint16_t(board));
    std::printf("125 kbit/s at 100 %% load on the wall clock: %.1f ms processor time per second of bus time "
                "(%.0f frames/s delivered)\n",
                1000 * cpu / bus, double(frames) / bus);
}

void ManualCost() {
    auto net = LoadedNetwork(sim::TimeMode::Manual);
    const int32_t board = StartBoard();
    const double cpu0 = CpuSeconds();
    net->Advance(60 * 1000 * sim::kMs);
    const double cpu = CpuSeconds() - cpu0;
    VCI_CancelBoard(uint16_t(board));
    std::printf("125 kbit/s at 100 %% load on manual time: %.2f ms processor time per second of bus time\n",
                1000 * cpu / 60);
}

}  // namespace

int main() {
    Unthrottled();
    RealTimeCost();
    ManualCost();
    sim::Network::Install(nullptr);
    return 0;
}
