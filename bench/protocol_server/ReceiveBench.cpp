// Receive path on one core: frames through the receive callback, the ring and _GetRxMsg, with the
// decoding into the database. The board is the test stand-in; frames are played in batches of ten,
// each batch drained before the next, as a 1 ms poller would see them on a busy bus.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "Protocol.h"
#include "rtl/Library.h"
#include "tests/protocol_server/FakeBoard.h"

namespace {

std::vector<VCI_CAN_OBJ> MixedBatch(uint32_t round) {
    const auto v = static_cast<uint8_t>(round);
    return {
        Frame(0x180 + 40, {v, 0x12, 0x34, 0x56, 0x78, 0x9A, v, 0xDE}),
        Frame(0x280 + 40, {v, 1, 2, 3, 4, 5, 6, 7}),
        Frame(0x180 + 41, {1, 2, 3, 4, 5, 6, 7, v}),
        Frame(0x280 + 41, {7, 6, 5, 4, 3, 2, 1, v}),
        Frame(0x700 + 42, {5}),
        Frame(0x380 + 127, {v, 0, 1, 0, 2}),
        Frame(0x580 + 43, {0x43, 0x05, 0x20, 1, v, 2, 3, 4}),
        Frame(0x200 + 44, {1, 2, 3, 4, 5, 6, 7}),
        Frame(0x700 + 45, {127}),
        Frame(0x180 + 46, {v, v, v, v, v, v, v, v}),
    };
}

void BM_ReceiveDecodeAndDrain(benchmark::State& state) {
    rtl::SetLibraryOverride("Xat11reg.dll", FAKE_XAT_FULL);
    setenv("FAKE_XAT_BOARD", "1,0", 1);
    if (!_MORVANDProtocolCreate(1)) {
        state.SkipWithError("board set-up failed");
        return;
    }
    uint32_t round = 0;
    std::vector<std::vector<VCI_CAN_OBJ>> batches;
    for (int i = 0; i < 256; ++i) batches.push_back(MixedBatch(static_cast<uint32_t>(i)));
    TRxMsg msg;
    int64_t frames = 0;
    for (auto _ : state) {
        auto& batch = batches[round++ & 255];
        Board().Receive(0, static_cast<uint16_t>(batch.size()), batch.data());
        while (_GetRxMsg(&msg)) ++frames;
        for (uint8_t n = 40; n <= 46; ++n) benchmark::DoNotOptimize(_NodeChanged(n));
    }
    state.SetItemsProcessed(frames);
    _DestroyCANThread();
    rtl::SetLibraryOverride("Xat11reg.dll", "");
}
BENCHMARK(BM_ReceiveDecodeAndDrain);

void BM_RingOnly(benchmark::State& state) {
    rtl::SetLibraryOverride("Xat11reg.dll", FAKE_XAT_FULL);
    setenv("FAKE_XAT_BOARD", "1,0", 1);
    _MORVANDProtocolCreate(1);
    std::vector<VCI_CAN_OBJ> batch(10, Frame(0x200 + 44, {1, 2, 3, 4, 5, 6, 7}));
    TRxMsg msg;
    int64_t frames = 0;
    for (auto _ : state) {
        Board().Receive(0, static_cast<uint16_t>(batch.size()), batch.data());
        while (_GetRxMsg(&msg)) ++frames;
    }
    state.SetItemsProcessed(frames);
    _DestroyCANThread();
    rtl::SetLibraryOverride("Xat11reg.dll", "");
}
BENCHMARK(BM_RingOnly);

}  // namespace

BENCHMARK_MAIN();
