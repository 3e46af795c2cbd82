// CPU time the running library costs while idle: the 20-node network in real time alone, then
// with the library's protocol thread running beside it, then with a 1 ms poller draining it.
// Process CPU per wall second; the differences are the library's share.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

#include "BusSetup.h"

using namespace morvandbench;

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double CpuMsPerSecond(int seconds) {
    const double before = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return (CpuSeconds() - before) * 1000 / wall;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    auto net = TwentyNodes(sim::TimeMode::RealTime);
    Installation inst(net);
    const double network = CpuMsPerSecond(seconds);
    if (!inst.Start()) {
        std::printf("library did not start\n");
        return 1;
    }
    const double library = CpuMsPerSecond(seconds);
    double polled;
    {
        Poller poller;
        polled = CpuMsPerSecond(seconds);
    }
    std::printf("CPU per second of wall time (%d s each), 20-node network at 125 kbit/s\n", seconds);
    std::printf("  network alone                 %7.2f ms\n", network);
    std::printf("  + library (protocol thread)   %7.2f ms   library share %.2f ms\n", library, library - network);
    std::printf("  + 1 ms poller                 %7.2f ms\n", polled);
    return 0;
}
