// Figures of the write and download roads on the simulated network at 125 kbit/s:
//  - latency of a parameter write, _WrDBValue to the new value readable (a command field, read back
//    from the node's status frame) and to the acknowledgement (an SDO parameter), p50 and p99, with
//    20 nodes on an idle bus and with 80 % of the bus taken by other traffic;
//  - records per second the library hands to the board while its transmit queue has room;
//  - bus time of a 60 KiB image sent with the transmit queue kept non-empty, against the bus time
//    its frames need at the least.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Morvand.h"
#include "tests/protocol_roads/HexRecords.h"
#include "sim/Network.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint8_t FirstNode = 21, NodeCount = 20;

std::vector<std::string> Image(size_t bytes) {
    std::vector<std::string> records{HexRecord(0, 4, {0, 0})};
    for (size_t a = 0; a < bytes; a += 16) {
        std::vector<uint8_t> data;
        for (size_t i = a; i < std::min(bytes, a + 16); ++i) data.push_back(uint8_t(i * 13));
        records.push_back(HexRecord(uint16_t(a), 0, data));
    }
    records.push_back(HexRecord(0, 1, {}));
    return records;
}

// The frames a record is cut into, as the bus carries them.
std::vector<sim::Frame> Pieces(const std::string& r) {
    std::vector<sim::Frame> frames;
    auto piece = [&](uint32_t id, size_t at, size_t n) {
        sim::Frame f;
        f.id = id;
        f.len = uint8_t(n);
        std::copy_n(r.begin() + long(at), n, f.data.begin());
        frames.push_back(f);
    };
    const int dataChars = 2 * std::stoi(r.substr(0, 2), nullptr, 16);
    piece(0x114, 0, 8);
    for (int k = 1; k <= 4; ++k)
        if (int n = dataChars - 8 * (k - 1); n > 0) piece(0x114u + 0x80u * k, 8u * k, size_t(std::min(n, 8)));
    piece(0x394, 8 + size_t(dataChars), 2);
    return frames;
}

bool Eventually(const std::function<bool()>& condition) {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end)
        if (condition()) return true;
    return false;
}

uint16_t Read(uint8_t node, uint8_t index) {
    uint16_t v = 0;
    _RdDBValue(node, index, 3, &v);
    return v;
}

struct TPercentiles {
    double p50, p99;
};

TPercentiles Percentiles(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

// Write -> readable: a command field travels in the command frame and comes back in the node's
// status frame; an SDO parameter is confirmed by the node's acknowledgement (its change flag).
std::pair<TPercentiles, TPercentiles> WriteLatency(int samples) {
    std::mt19937 random(7);
    std::vector<double> field, parameter;
    for (int i = 0; i < samples; ++i) {
        const auto node = uint8_t(FirstNode + random() % NodeCount);
        const auto setPoint = int16_t(10 + i % 20);
        const auto param = int16_t(1 + i % 100);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));

        auto t0 = Clock::now();
        while (!_WrDBValue(node, 1, 3, setPoint)) std::this_thread::yield();
        if (!Eventually([&] { return int16_t(Read(node, 1)) == setPoint; })) std::fprintf(stderr, "lost field write\n");
        field.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());

        _NodeChanged(node);
        t0 = Clock::now();
        while (!_WrDBValue(node, 24, 3, param)) std::this_thread::yield();
        if (!Eventually([&] { return (_NodeChanged(node) & 0x20) != 0; })) std::fprintf(stderr, "lost parameter\n");
        parameter.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        Eventually([&] { return Read(node, 18) == 0; });
    }
    return {Percentiles(field), Percentiles(parameter)};
}

void Drain() {
    TRxMsg msg;
    while (_GetRxMsg(&msg)) {
    }
}

}  // namespace

int main() {
    const fs::path previous = fs::current_path();
    char pattern[] = "/tmp/roadsbenchXXXXXX";
    const fs::path root = mkdtemp(pattern);
    std::ofstream(root / "Morvand.ini") << "[General]\r\ntopSpeed=1\r\nlogEn=0\r\nlogDur=7\r\n";
    std::ofstream(root / "Xat11reg.reg") << "simulated 0\n";
    setenv("XAT11REG_FILE", (root / "Xat11reg.reg").c_str(), 1);
    fs::current_path(root);

    auto net = std::make_shared<sim::Network>();
    for (int n = 0; n < NodeCount; ++n) {
        sim::NodeConfig c;
        c.number = uint8_t(FirstNode + n);
        c.version = 0x4601;
        c.values.setPoint = 20;
        net->AddNode(c);
    }
    sim::Network::Install(net);
    if (_CreateCANThread(".//Morvand") != 0) {
        std::fprintf(stderr, "the protocol did not start\n");
        return 1;
    }
    // Let every node boot and report itself; a poller drains the received frames meanwhile.
    std::atomic<bool> polling{true};
    std::thread poller([&] {
        while (polling) {
            Drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    Eventually([&] {
        for (int n = 0; n < NodeCount; ++n)
            if (Read(uint8_t(FirstNode + n), 1) != 20) return false;
        return true;
    });

    std::printf("Parameter road, 125 kbit/s, %d nodes (ms)      field p50   p99 | parameter p50   p99\n", NodeCount);
    for (unsigned load : {0u, 80u}) {
        net->SetBackgroundLoad(load);
        const auto [field, parameter] = WriteLatency(300);
        std::printf("  bus load %2u %%                               %7.2f %6.2f |          %6.2f %6.2f\n", load,
                    field.p50, field.p99, parameter.p50, parameter.p99);
    }
    net->SetBackgroundLoad(0);
    polling = false;
    poller.join();

    // Records handed to the board: the bus is stopped (manual time) so that only the library's and
    // the board's own work is timed; the queue is drained between bursts, untimed.
    const std::vector<std::string> image = Image(60 * 1024);
    net->SetTimeMode(sim::TimeMode::Manual);
    Clock::duration handing{};
    size_t handed = 0;
    for (const std::string& r : image) {
        if (_ReadTxQueueStatus() > 114) {
            while (_ReadTxQueueStatus() > 0) net->Advance(10 * sim::kMs);
            Drain();
        }
        const auto t0 = Clock::now();
        for (uint8_t kind = 0; kind <= 5; ++kind) _SendLine(kind, r.c_str());
        handing += Clock::now() - t0;
        ++handed;
    }
    while (_ReadTxQueueStatus() > 0) net->Advance(10 * sim::kMs);
    std::printf("Download records handed to the board: %.0f records/s (%zu records)\n",
                double(handed) / std::chrono::duration<double>(handing).count(), handed);

    // Bus time of the whole image with the queue kept non-empty: refilled whenever a record fits.
    Drain();
    double minimumSeconds = 0;
    for (const std::string& r : image)
        for (const sim::Frame& f : Pieces(r)) minimumSeconds += double(sim::FrameBits(f)) / net->BitRate();
    const sim::Time start = net->Now();
    size_t next = 0;
    while (next < image.size() || _ReadTxQueueStatus() > 0) {
        while (next < image.size() && _ReadTxQueueStatus() <= 114) {
            for (uint8_t kind = 0; kind <= 5; ++kind) _SendLine(kind, image[next].c_str());
            ++next;
        }
        net->Advance(sim::kMs);
        Drain();
    }
    const double busSeconds = double(net->Now() - start) / 1e9;
    std::printf("60 KiB image (%zu records): bus time %.2f s, frames' minimum %.2f s, ratio %.3f\n", image.size(),
                busSeconds, minimumSeconds, busSeconds / minimumSeconds);

    _DestroyCANThread();
    sim::Network::Install(nullptr);
    fs::current_path(previous);
    fs::remove_all(root);
    return 0;
}
