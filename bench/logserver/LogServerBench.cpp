// Log server calls per second from four threads, and the worst time one call kept its caller.
#include "logserver/Pelkin.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::atomic<int64_t> worstNs{0};

void BM_SendString(benchmark::State& state) {
    const std::string text = "Node 12 status 0x1F setpoint 21.5 mode 3 thread " + std::to_string(state.thread_index());
    int64_t worst = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        _PELKINSendString(text.c_str());
        worst = std::max<int64_t>(worst, (std::chrono::steady_clock::now() - t0).count());
    }
    int64_t seen = worstNs.load();
    while (worst > seen && !worstNs.compare_exchange_weak(seen, worst)) {
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendString)->Threads(4)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / "pelkin_bench";
    fs::create_directories(dir);
    _PELKINCreate(dir.c_str(), "LOG", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    _PELKINEnd();
    _PELKINDestroy();
    std::printf("worst caller latency: %.1f us\n", worstNs.load() / 1000.0);
    // How many calls were recorded and how many found the queue full.
    std::ifstream in(dir / "LOG.log");
    uint64_t recorded = 0, dropped = 0;
    for (std::string line; std::getline(in, line);) {
        unsigned long long n = 0;
        if (std::sscanf(line.c_str() + 24, "%llu texts dropped", &n) == 1) dropped += n;
        else ++recorded;
    }
    std::printf("texts recorded: %ju, dropped (queue full): %ju\n", std::uintmax_t(recorded), std::uintmax_t(dropped));
    fs::remove_all(dir);
}
