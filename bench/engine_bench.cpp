// Per-buffer costs of the delay line, each printed next to a baseline measured
// in the same run: copying one 100 ms buffer (17 640 bytes).

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "engine/level_meters.h"
#include "support/engine_rig.h"

using namespace morvane;

namespace {
constexpr uint32_t kBufferBytes = 17640;

std::vector<char> NoiseBuffer() {
    std::vector<char> b(kBufferBytes);
    sim::NoiseSignal(0, kBufferBytes / 4, 2, reinterpret_cast<int16_t*>(b.data()));
    return b;
}

// Baseline: one copy of a buffer, as the arrival handling does once.
void BM_CopyBufferBaseline(benchmark::State& state) {
    const auto source = NoiseBuffer();
    std::vector<char> target(kBufferBytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), kBufferBytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBufferBytes);
}
BENCHMARK(BM_CopyBufferBaseline);

// The level meters' scan of one buffer (done twice per buffer: in and out).
void BM_ScanPeaks(benchmark::State& state) {
    const auto buffer = NoiseBuffer();
    for (auto _ : state) {
        auto peaks = ScanPeaks(buffer.data(), kBufferBytes);
        benchmark::DoNotOptimize(peaks);
    }
    state.SetBytesProcessed(state.iterations() * kBufferBytes);
}
BENCHMARK(BM_ScanPeaks);

// One buffer's whole way through the engine in the simulator: capture, copy,
// requeue, write, both meters, playback; the simulator's own streaming of the
// samples is part of it.
// Argument 1: the same in the nudge mode, where each buffer is copied into
// the line's ring and then into the block written.
void BM_EngineBufferRoundTrip(benchmark::State& state) {
    sim::EngineRig rig;
    rig.controls.logCalls = false;
    rig.engine.SetSmooth(state.range(0) != 0);
    rig.SlideTo(10);
    rig.engine.Play();
    rig.Run(20 * sim::kBufferFrames);
    for (auto _ : state) rig.Run(sim::kBufferFrames);
    state.SetBytesProcessed(state.iterations() * kBufferBytes);
}
BENCHMARK(BM_EngineBufferRoundTrip)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
