#pragma once
// Peak levels of one buffer of interleaved 16-bit little-endian stereo
// samples, left first, on the meters' linear 0..32767 scale.

#include <cstdint>

#include "audio/wave_api.h"

namespace morvane {

inline constexpr int kMeterFullScale = 32767;

struct ChannelPeaks {
    uint16_t left = 0;
    uint16_t right = 0;
};

// Scans every complete left/right pair of the first `byteLength` bytes; an
// unpaired last sample is ignored, -32768 counts as full scale.
ChannelPeaks ScanPeaks(const char* data, uint32_t byteLength);

// The whole buffer length counts, whatever was recorded into it.
ChannelPeaks ScanPeaks(const WAVEHDR& header);

// Copies `byteLength` bytes from `source` to `target` (which must not
// overlap) and answers ScanPeaks(source, byteLength), reading the buffer once.
ChannelPeaks CopyScanningPeaks(char* target, const char* source, uint32_t byteLength);

// The scans above take the widest path the processor has; every path gives
// the same peaks. Named so that each can be run and compared.
enum class PeakScanPath { Baseline, Avx2 };
bool PeakScanPathAvailable(PeakScanPath path);
ChannelPeaks ScanPeaks(const char* data, uint32_t byteLength, PeakScanPath path);
ChannelPeaks CopyScanningPeaks(char* target, const char* source, uint32_t byteLength,
                               PeakScanPath path);

}  // namespace morvane
