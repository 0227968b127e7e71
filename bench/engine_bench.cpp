// Per-buffer costs of the delay line, each printed next to a baseline measured
// in the same run: copying one 100 ms buffer (17 640 bytes).
//
// The Hot benchmarks use one buffer over and over, so it stays in the first
// level cache. The Ring ones walk the blocks as the delay line does at the
// default delay of 1.0 s: eleven captured blocks, each copied into its own
// playback block and scanned, so that the data comes from the second level
// cache as it does when the program runs.

#include <benchmark/benchmark.h>

#include <cstdint>
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

// Walks the blocks of both wrappers at the default delay, captured ones
// holding noise, doing `perBlock(played, captured)` to one pair each time.
// The blocks start on a cache line, as the wrappers allocate theirs.
template <class PerBlock>
void WalkRing(benchmark::State& state, PerBlock perBlock) {
    constexpr uint32_t kBlocks = 11, kLine = 64;
    std::vector<std::vector<char>> captured, played;
    const auto onLine = [](std::vector<char>& b) {
        return b.data() + (kLine - reinterpret_cast<uintptr_t>(b.data()) % kLine) % kLine;
    };
    const auto noise = NoiseBuffer();
    for (uint32_t k = 0; k < kBlocks; ++k) {
        captured.emplace_back(kBufferBytes + kLine);
        played.emplace_back(kBufferBytes + kLine);
        std::memcpy(onLine(captured.back()), noise.data(), kBufferBytes);
    }
    uint32_t k = 0;
    for (auto _ : state) {
        k = (k + 1) % kBlocks;
        auto result = perBlock(onLine(played[k]), onLine(captured[k]));
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBufferBytes);
}

// Baseline in the ring: one plain copy per block.
void BM_RingCopyBaseline(benchmark::State& state) {
    WalkRing(state, [](char* played, const char* captured) {
        return std::memcpy(played, captured, kBufferBytes);
    });
}
BENCHMARK(BM_RingCopyBaseline);

// Copy each captured buffer to its playback block, then scan it for the input
// meters: two passes, to compare with the one the delay line makes.
void BM_RingCopyThenScan(benchmark::State& state) {
    WalkRing(state, [](char* played, const char* captured) {
        std::memcpy(played, captured, kBufferBytes);
        return ScanPeaks(captured, kBufferBytes);
    });
}
BENCHMARK(BM_RingCopyThenScan);

// What the delay line does with each captured buffer: copy and scan in one
// pass.
void BM_RingCopyScanning(benchmark::State& state) {
    WalkRing(state, [](char* played, const char* captured) {
        return CopyScanningPeaks(played, captured, kBufferBytes);
    });
}
BENCHMARK(BM_RingCopyScanning);

// Copy and scan in one pass (what the delay line does), on one hot buffer.
void BM_HotCopyScanning(benchmark::State& state) {
    const auto source = NoiseBuffer();
    std::vector<char> target(kBufferBytes);
    for (auto _ : state) {
        auto peaks = CopyScanningPeaks(target.data(), source.data(), kBufferBytes);
        benchmark::DoNotOptimize(peaks);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBufferBytes);
}
BENCHMARK(BM_HotCopyScanning);

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
