// CPU time of the idle library on the 20-node network in real time: with its protocol thread
// running, with that thread suspended (what is left is the bus and the receive callback), and with
// a 1 ms poller draining the ring. Process CPU per wall second; the first difference is the
// protocol thread's own share.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

#include "BusSetup.h"
#include "bench/Short.h"

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
    const int seconds = benchshort::Seconds(argc, argv, 10, 1);
    auto net = TwentyNodes(sim::TimeMode::RealTime);
    Installation inst(net);
    if (!inst.Start()) {
        std::printf("library did not start\n");
        return 1;
    }
    const double running = CpuMsPerSecond(seconds);
    _MORVANDProtocolSuspend();
    const double suspended = CpuMsPerSecond(seconds);
    _MORVANDProtocolBegin();
    double polled;
    {
        Poller poller;
        polled = CpuMsPerSecond(seconds);
    }
    std::printf("CPU per second of wall time (%d s each), 20-node network at 125 kbit/s\n", seconds);
    std::printf("  library running                    %7.2f ms\n", running);
    std::printf("  protocol thread suspended          %7.2f ms   (bus and receive callback)\n", suspended);
    std::printf("  protocol thread share              %7.2f ms\n", running - suspended);
    std::printf("  running, with a 1 ms poller        %7.2f ms\n", polled);
    return 0;
}
