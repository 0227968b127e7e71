#include "engine/level_meters.h"

#include <algorithm>
#include <bit>
#include <cstring>

// Where the compiler can build a function for a wider instruction set than
// the rest of the program, the scan is built for AVX2 too and picked at run
// time when the processor has it.
#if defined(__GNUC__) && defined(__x86_64__)
#define MORVANE_PEAKS_AVX2 1
#endif

namespace morvane {
namespace {
inline int Magnitude(const unsigned char* p) {
    const int sample = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    return std::min(sample < 0 ? -sample : sample, kMeterFullScale);
}

// Whole vectors of samples as the compiler's generic vectors: built for
// whatever the target has (SSE2 at least on x86-64), one body for every path.
typedef int16_t Words8 __attribute__((vector_size(16)));
typedef int16_t Words16 __attribute__((vector_size(32)));

// Highest and lowest sample of each channel so far; the magnitude is taken
// once at the end, not per sample.
struct Extremes {
    int high[2] = {0, 0};
    int low[2] = {0, 0};
};

// Reads (and with kCopy copies) the pairs of [0, *done) in blocks of four
// vectors; leaves in *done how far it came. Every vector starts on a pair, so
// left samples sit in the even lanes.
template <class V, bool kCopy>
[[gnu::always_inline]] inline Extremes ScanBlocks(const char* source, char* target,
                                                  uint32_t* done) {
    constexpr uint32_t kBlock = 4 * sizeof(V);
    const uint32_t end = *done / kBlock * kBlock;
    V high0 = {}, high1 = {}, low0 = {}, low1 = {};
    for (uint32_t k = 0; k < end; k += kBlock) {
        V a, b, c, d;
        std::memcpy(&a, source + k, sizeof(V));
        std::memcpy(&b, source + k + sizeof(V), sizeof(V));
        std::memcpy(&c, source + k + 2 * sizeof(V), sizeof(V));
        std::memcpy(&d, source + k + 3 * sizeof(V), sizeof(V));
        if constexpr (kCopy) {
            std::memcpy(target + k, &a, sizeof(V));
            std::memcpy(target + k + sizeof(V), &b, sizeof(V));
            std::memcpy(target + k + 2 * sizeof(V), &c, sizeof(V));
            std::memcpy(target + k + 3 * sizeof(V), &d, sizeof(V));
        }
        // Two chains each, so that one max does not wait for the one before.
        const V ac = a > c ? a : c, bd = b > d ? b : d;
        const V ca = a > c ? c : a, db = b > d ? d : b;
        high0 = high0 > ac ? high0 : ac;
        high1 = high1 > bd ? high1 : bd;
        low0 = low0 < ca ? low0 : ca;
        low1 = low1 < db ? low1 : db;
    }
    const V high = high0 > high1 ? high0 : high1;
    const V low = low0 < low1 ? low0 : low1;
    Extremes e;
    for (uint32_t lane = 0; lane < sizeof(V) / 2; ++lane) {
        e.high[lane % 2] = std::max<int>(e.high[lane % 2], high[lane]);
        e.low[lane % 2] = std::min<int>(e.low[lane % 2], low[lane]);
    }
    *done = end;
    return e;
}

Extremes ScanBlocksBaseline(const char* source, char* target, uint32_t* done) {
    return target != nullptr ? ScanBlocks<Words8, true>(source, target, done)
                             : ScanBlocks<Words8, false>(source, target, done);
}

#ifdef MORVANE_PEAKS_AVX2
[[gnu::target("avx2")]] Extremes ScanBlocksAvx2(const char* source, char* target,
                                                uint32_t* done) {
    return target != nullptr ? ScanBlocks<Words16, true>(source, target, done)
                             : ScanBlocks<Words16, false>(source, target, done);
}
#endif

ChannelPeaks Scan(const char* source, char* target, uint32_t byteLength, PeakScanPath path) {
    const uint32_t pairBytes = byteLength & ~3u;
    // Lanes hold samples in the processor's byte order: on a big-endian one
    // the pair-by-pair loop below does all of it.
    uint32_t done = std::endian::native == std::endian::little ? pairBytes : 0;
#ifdef MORVANE_PEAKS_AVX2
    const Extremes e = path == PeakScanPath::Avx2 ? ScanBlocksAvx2(source, target, &done)
                                                   : ScanBlocksBaseline(source, target, &done);
#else
    (void)path;
    const Extremes e = ScanBlocksBaseline(source, target, &done);
#endif
    // -32768 is full scale, as the meters show no more.
    int left = std::min(std::max(e.high[0], -e.low[0]), kMeterFullScale);
    int right = std::min(std::max(e.high[1], -e.low[1]), kMeterFullScale);
    const auto* p = reinterpret_cast<const unsigned char*>(source);
    for (uint32_t k = done; k < pairBytes; k += 4) {
        left = std::max(left, Magnitude(p + k));
        right = std::max(right, Magnitude(p + k + 2));
    }
    // The rest of the bytes, an unpaired sample included, are copied, not
    // scanned.
    if (target != nullptr) std::memcpy(target + done, source + done, byteLength - done);
    return {static_cast<uint16_t>(left), static_cast<uint16_t>(right)};
}

PeakScanPath FastestPath() {
#ifdef MORVANE_PEAKS_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return PeakScanPath::Avx2;
#endif
    return PeakScanPath::Baseline;
}
}  // namespace

bool PeakScanPathAvailable(PeakScanPath path) {
    return path == PeakScanPath::Baseline || path == FastestPath();
}

ChannelPeaks ScanPeaks(const char* data, uint32_t byteLength, PeakScanPath path) {
    if (data == nullptr) return {};
    return Scan(data, nullptr, byteLength, path);
}

ChannelPeaks CopyScanningPeaks(char* target, const char* source, uint32_t byteLength,
                               PeakScanPath path) {
    return Scan(source, target, byteLength, path);
}

ChannelPeaks ScanPeaks(const char* data, uint32_t byteLength) {
    return ScanPeaks(data, byteLength, FastestPath());
}

ChannelPeaks ScanPeaks(const WAVEHDR& header) {
    return ScanPeaks(header.lpData, header.dwBufferLength);
}

ChannelPeaks CopyScanningPeaks(char* target, const char* source, uint32_t byteLength) {
    return CopyScanningPeaks(target, source, byteLength, FastestPath());
}

}  // namespace morvane
