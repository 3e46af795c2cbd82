// Cost of one pass of the node poller against the shipped library on the simulated 20-node network
// (19 devices and the controller): a pass with nothing to do, a pass with every group of every node
// flagged, a pass draining a full receive ring, and passes on the live network in real time.
#include <benchmark/benchmark.h>

#include "AppStrings.h"
#include "BusSetup.h"
#include "Fancoil.h"
#include "Morvand.h"
#include "RxMsgRing.h"
#include "Schedule.h"

namespace {

// The library started on the network, and a model over an empty description table.
class Rig {
public:
    explicit Rig(sim::TimeMode mode)
        : net(morvandbench::TwentyNodes(mode)), inst(net), table("USR\\FanStr.cfg"), model(table) {
        started = inst.Start();
        RxMsgRing.Clear();
        RxMsgRing.Run();
    }
    std::shared_ptr<sim::Network> net;
    morvandbench::Installation inst;
    TAppStrings table;
    TFancoil model;
    bool started = false;
};

void FlagAll() {
    for (uint8_t n = 21; n < 40; ++n) _ForceNodeChanged(n, 0xFF);
    _ForceNodeChanged(127, 0xFF);
}

void PollIdle(benchmark::State& state) {
    Rig rig(sim::TimeMode::Manual);
    if (!rig.started) return state.SkipWithError("library did not start");
    rig.model.Poll();
    for (auto _ : state) rig.model.Poll();
}
BENCHMARK(PollIdle)->Unit(benchmark::kMicrosecond);

// The 20 calls that flag the nodes, alone: subtract from the next figure.
void FlagOnly(benchmark::State& state) {
    Rig rig(sim::TimeMode::Manual);
    if (!rig.started) return state.SkipWithError("library did not start");
    for (auto _ : state) FlagAll();
    rig.model.Poll();
}
BENCHMARK(FlagOnly)->Unit(benchmark::kMicrosecond);

// 19 devices with all four groups (47 reads each) and the controller (18 reads): 911 reads.
void PollAllNodesFlagged(benchmark::State& state) {
    Rig rig(sim::TimeMode::Manual);
    if (!rig.started) return state.SkipWithError("library did not start");
    for (auto _ : state) {
        FlagAll();
        rig.model.Poll();
    }
}
BENCHMARK(PollAllNodesFlagged)->Unit(benchmark::kMicrosecond);

// A pass that drains a full receive ring (19 frames) into the message ring.
void PollDrainFullRing(benchmark::State& state) {
    Rig rig(sim::TimeMode::Manual);
    if (!rig.started) return state.SkipWithError("library did not start");
    rig.net->Advance(100 * sim::kMs);
    rig.model.Poll();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 19; ++i) rig.net->Inject(sim::Frame(0x7C0, {uint8_t(i)}));
        rig.net->Advance(20 * sim::kMs);
        state.ResumeTiming();
        rig.model.Poll();
    }
    state.SetItemsProcessed(state.iterations() * 19);
}
BENCHMARK(PollDrainFullRing)->Unit(benchmark::kMicrosecond);

// Passes on the network running in real time, as the scheduler makes them (without its sleep).
void PollLiveNetwork(benchmark::State& state) {
    Rig rig(sim::TimeMode::RealTime);
    if (!rig.started) return state.SkipWithError("library did not start");
    const uint16_t before = RxMsgRing.WriteIndex();
    for (auto _ : state) rig.model.Poll();
    state.counters["frames"] = double(uint16_t(RxMsgRing.WriteIndex() - before));
}
BENCHMARK(PollLiveNetwork)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
