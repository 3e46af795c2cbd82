// The library on the simulated network, for the load and idle benchmarks: a 20-node network
// (19 devices and the controller), the registry and settings files in a scratch folder, and a
// poller that drains the receive ring every millisecond as the program's scheduler thread does.
#pragma once
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "Morvand.h"
#include "sim/Network.h"

namespace morvandbench {

inline std::shared_ptr<sim::Network> TwentyNodes(sim::TimeMode mode) {
    auto net = std::make_shared<sim::Network>();
    net->SetTimeMode(mode);
    for (uint8_t n = 21; n < 40; ++n) {
        sim::NodeConfig node;
        node.number = n;
        net->AddNode(node);
    }
    sim::NodeConfig controller;
    controller.number = 127;
    net->AddNode(controller);
    return net;
}

// Scratch settings and registry; the library is created on the installed network.
class Installation {
public:
    explicit Installation(std::shared_ptr<sim::Network> net) : net_(std::move(net)) {
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "Morvand.ini") << "[General]\r\ntopSpeed=1\r\n";
        std::ofstream(dir_ / "Xat11reg.reg") << "simulated 0\n";
        setenv("XAT11REG_FILE", (dir_ / "Xat11reg.reg").c_str(), 1);
        sim::Network::Install(net_);
    }
    ~Installation() {
        _DestroyCANThread();
        sim::Network::Install(nullptr);
        std::filesystem::remove_all(dir_);
    }
    bool Start() { return _CreateCANThread((dir_ / "Morvand").c_str()) == 0; }

private:
    std::shared_ptr<sim::Network> net_;
    std::filesystem::path dir_ = std::filesystem::temp_directory_path() / ("morvand_bench_" + std::to_string(getpid()));
};

// Drains _GetRxMsg every millisecond on its own thread.
class Poller {
public:
    Poller() : thread_([this] { Run(); }) {}
    ~Poller() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    uint64_t Received() const { return received_; }
    uint64_t Overruns() const { return overruns_; }
    // Longest time between two drains, in microseconds.
    uint64_t LongestGapUs() const { return longestGapUs_; }

private:
    void Run() {
        TRxMsg m;
        auto last = std::chrono::steady_clock::now();
        while (!stop_) {
            const auto now = std::chrono::steady_clock::now();
            const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(now - last).count();
            if (uint64_t(gap) > longestGapUs_) longestGapUs_ = uint64_t(gap);
            last = now;
            while (_GetRxMsg(&m)) {
                ++received_;
                if (m.Status & MORVAND_RX_OVERRUN) ++overruns_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (_GetRxMsg(&m)) {
            ++received_;
            if (m.Status & MORVAND_RX_OVERRUN) ++overruns_;
        }
    }
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0}, overruns_{0}, longestGapUs_{0};
    std::thread thread_;
};

}  // namespace morvandbench
