// The library on the simulated network, for the load and idle benchmarks: a 20-node network
// (19 devices and the controller), the registry and settings files in a scratch folder, and a
// poller that drains the receive ring every millisecond as the program's scheduler thread does.
#pragma once
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <cstdio>

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

// Drains _GetRxMsg every millisecond (or every period) on its own thread and keeps every gap between two drains.
// A gap longer than kLongGapUs is taken apart: time spent waiting for a CPU (the kernel's run-queue
// delay of this thread), time inside the drain (the ring lock), and the page faults taken.
class Poller {
public:
    static constexpr uint64_t kLongGapUs = 5000;
    struct LongGaps {
        uint64_t count = 0, totalUs = 0, waitingForCpuUs = 0, drainingUs = 0, minorFaults = 0, majorFaults = 0;
    };

    explicit Poller(std::chrono::milliseconds period = std::chrono::milliseconds(1))
        : period_(period), thread_([this] { Run(); }) {}
    ~Poller() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    uint64_t Received() const { return received_; }
    uint64_t Overruns() const { return overruns_; }
    // Longest time between two drains, in microseconds.
    uint64_t LongestGapUs() const { return longestGapUs_; }
    // After Stop: the gap below which the share q of all gaps lies, in microseconds.
    uint64_t GapQuantileUs(double q) {
        if (gaps_.empty()) return 0;
        const size_t at = std::min(gaps_.size() - 1, size_t(q * double(gaps_.size())));
        std::nth_element(gaps_.begin(), gaps_.begin() + long(at), gaps_.end());
        return gaps_[at];
    }
    const LongGaps& Long() const { return long_; }  // after Stop

private:
    static uint64_t RunQueueWaitNs(int fd) {
        char text[96] = {};
        if (fd < 0 || pread(fd, text, sizeof text - 1, 0) <= 0) return 0;
        unsigned long long onCpu = 0, waiting = 0;
        return std::sscanf(text, "%llu %llu", &onCpu, &waiting) == 2 ? waiting : 0;
    }
    static rusage ThreadUsage() {
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        return u;
    }
    void Drain(TRxMsg& m) {
        while (_GetRxMsg(&m)) {
            ++received_;
            if (m.Status & MORVAND_RX_OVERRUN) ++overruns_;
        }
    }
    void Run() {
        using Clock = std::chrono::steady_clock;
        const int fd = open("/proc/thread-self/schedstat", O_RDONLY);
        gaps_.reserve(1 << 16);
        TRxMsg m;
        auto last = Clock::now();
        uint64_t lastWait = RunQueueWaitNs(fd), lastDrainUs = 0;
        rusage lastUsage = ThreadUsage();
        while (!stop_) {
            const auto now = Clock::now();
            const auto gap = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(now - last).count());
            const uint64_t wait = RunQueueWaitNs(fd);
            const rusage usage = ThreadUsage();
            gaps_.push_back(uint32_t(std::min<uint64_t>(gap, UINT32_MAX)));
            if (gap > longestGapUs_) longestGapUs_ = gap;
            if (gap > kLongGapUs) {
                ++long_.count;
                long_.totalUs += gap;
                long_.waitingForCpuUs += (wait - lastWait) / 1000;
                long_.drainingUs += lastDrainUs;
                long_.minorFaults += uint64_t(usage.ru_minflt - lastUsage.ru_minflt);
                long_.majorFaults += uint64_t(usage.ru_majflt - lastUsage.ru_majflt);
            }
            last = now;
            lastWait = wait;
            lastUsage = usage;
            Drain(m);
            lastDrainUs = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - now).count());
            std::this_thread::sleep_for(period_);
        }
        Drain(m);
        if (fd >= 0) close(fd);
    }
    const std::chrono::milliseconds period_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0}, overruns_{0}, longestGapUs_{0};
    std::vector<uint32_t> gaps_;
    LongGaps long_;
    std::thread thread_;
};

}  // namespace morvandbench
