// The bus at 100 % load of 125 kbit/s for a minute (argument: seconds) with a 1 ms poller: frames
// on the bus, frames received, overrun marks. Then the bus run faster and faster than real time
// (bus time paced against the wall clock) until the 1 ms poller meets an overrun: the highest rate
// the receive path carries without one.
#include <cstdio>
#include <cstdlib>

#include "BusSetup.h"
#include "bench/Short.h"

using namespace morvandbench;
using Clock = std::chrono::steady_clock;

namespace {

void RealTimeLoad(int seconds) {
    auto net = TwentyNodes(sim::TimeMode::RealTime);
    Installation inst(net);
    if (!inst.Start()) {
        std::printf("library did not start\n");
        std::exit(1);
    }
    net->SetCapture(true);
    net->SetBackgroundLoad(100);
    Poller poller;
    uint64_t onBus = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        onBus += net->TakeCapture().size();
    }
    net->SetBackgroundLoad(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    onBus += net->TakeCapture().size();
    poller.Stop();
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("100%% load, 125 kbit/s, %d s, 1 ms poller\n", seconds);
    std::printf("  frames sent on the bus  %10llu  (%.0f frames/s)\n", (unsigned long long)onBus, onBus / secs);
    std::printf("  frames received        %10llu\n", (unsigned long long)poller.Received());
    std::printf("  overrun marks          %10llu\n", (unsigned long long)poller.Overruns());
    std::printf("  poller gap p50 / p99 / p99.9 / max  %llu / %llu / %llu / %llu us\n",
                (unsigned long long)poller.GapQuantileUs(0.5), (unsigned long long)poller.GapQuantileUs(0.99),
                (unsigned long long)poller.GapQuantileUs(0.999), (unsigned long long)poller.LongestGapUs());
    const Poller::LongGaps& g = poller.Long();
    std::printf("  gaps over %llu ms: %llu, %llu ms in all: %llu ms waiting for a CPU, %llu ms draining, "
                "%llu minor and %llu major page faults\n",
                (unsigned long long)Poller::kLongGapUs / 1000, (unsigned long long)g.count,
                (unsigned long long)g.totalUs / 1000, (unsigned long long)g.waitingForCpuUs / 1000,
                (unsigned long long)g.drainingUs / 1000, (unsigned long long)g.minorFaults,
                (unsigned long long)g.majorFaults);
}

struct Step {
    double rate;
    uint64_t received, overruns, gapUs;
};

// Bus time runs `speed` times faster than the wall clock for `seconds`.
Step Paced(double speed, double seconds) {
    auto net = TwentyNodes(sim::TimeMode::Manual);
    Installation inst(net);
    if (!inst.Start()) std::exit(1);
    net->SetBackgroundLoad(100);
    Poller poller;
    const auto start = Clock::now();
    sim::Time busDone = 0;
    for (;;) {
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        if (wall >= seconds) break;
        const auto target = static_cast<sim::Time>(wall * speed * 1e9);
        if (target > busDone) {
            net->Advance(target - busDone);
            busDone = target;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    poller.Stop();
    return {poller.Received() / wall, poller.Received(), poller.Overruns(), poller.LongestGapUs()};
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = benchshort::Seconds(argc, argv, 60, 3);
    RealTimeLoad(seconds);

    std::printf("faster than real time, 100%% load, 1 ms poller (%.1f s per step)\n", benchshort::Short() ? 0.2 : 2.0);
    std::printf("  %8s %12s %12s %10s %16s\n", "speed", "frames/s", "received", "overruns", "longest gap us");
    double best = 0;
    int failures = 0;
    const double step = benchshort::Short() ? 0.2 : 2.0;
    for (double speed : {1.0, 2.0, 4.0, 8.0, 10.0, 11.0, 12.0, 14.0, 16.0, 20.0, 24.0, 32.0, 48.0, 64.0}) {
        const Step s = Paced(speed, step);
        std::printf("  %7.0fx %12.0f %12llu %10llu %16llu\n", speed, s.rate, (unsigned long long)s.received,
                    (unsigned long long)s.overruns, (unsigned long long)s.gapUs);
        if (s.overruns == 0 && s.rate > best) best = s.rate;
        if (s.overruns != 0 && ++failures == 2) break;
    }
    std::printf("highest rate without overrun: %.0f frames/s\n", best);
    return 0;
}
