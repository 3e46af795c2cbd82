// The bus at 100 % load of 125 kbit/s for a minute (argument: seconds) with a 1 ms poller: frames
// on the bus, frames received, overrun marks; then with a reader that drains every 50 ms: the
// library's lag behind the bus, version requests answered, marked losses. Then the bus run faster and faster than real time
// (bus time paced against the wall clock) until the 1 ms poller meets an overrun: the highest rate
// the receive path carries without one.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

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

// The bus at 100 % load with a reader that drains the ring only every 50 ms: how far the library's
// view lags behind the bus (the oldest frame not yet handed to it, sampled every millisecond), how
// long a version request takes from the write to its answer in the database, the marked losses.
void SlowReader(int seconds) {
    auto net = TwentyNodes(sim::TimeMode::RealTime);
    Installation inst(net);
    if (!inst.Start()) std::exit(1);
    net->SetCapture(true);
    net->SetBackgroundLoad(100);
    Poller reader(std::chrono::milliseconds(50));
    std::vector<sim::Time> lags;
    uint64_t onBus = 0, asked = 0, answered = 0;
    double longestAnswerMs = 0;
    const auto start = Clock::now();
    auto nextAsk = start + std::chrono::seconds(1);  // the nodes have booted
    Clock::time_point askedAt{};
    bool waiting = false;
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lags.push_back(net->HostLag());
        const auto now = Clock::now();
        uint16_t state = 0;
        if (waiting && _RdDBValue(21, 18, 3, &state) && (state == 0 || state == 255)) {
            waiting = false;
            answered += state == 0;
            longestAnswerMs = std::max(longestAnswerMs, std::chrono::duration<double, std::milli>(now - askedAt).count());
        }
        if (!waiting && now >= nextAsk && _WrDBValue(21, 18, 3, 5)) {
            waiting = true;
            askedAt = now;
            nextAsk = now + std::chrono::milliseconds(200);
            ++asked;
        }
        if (lags.size() % 200 == 0) onBus += net->TakeCapture().size();
    }
    net->SetBackgroundLoad(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    onBus += net->TakeCapture().size();
    reader.Stop();
    std::sort(lags.begin(), lags.end());
    auto lagMs = [&](double q) { return double(lags[std::min(lags.size() - 1, size_t(q * double(lags.size())))]) / 1e6; };
    std::printf("100%% load, 125 kbit/s, %d s, a reader that drains every 50 ms\n", seconds);
    std::printf("  library behind the bus p50 / p99 / max  %.2f / %.2f / %.2f ms\n", lagMs(0.5), lagMs(0.99), lagMs(1.0));
    std::printf("  version requests %llu, answered %llu, longest %.1f ms from the write to the answer\n",
                (unsigned long long)asked, (unsigned long long)answered, longestAnswerMs);
    std::printf("  frames on the bus %llu, read %llu, overrun marks %llu\n", (unsigned long long)onBus,
                (unsigned long long)reader.Received(), (unsigned long long)reader.Overruns());
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
    SlowReader(seconds);

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
