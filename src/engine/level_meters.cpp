#include "engine/level_meters.h"

#include <algorithm>

namespace morvane {
namespace {
inline int Magnitude(const unsigned char* p) {
    const int sample = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    return std::min(sample < 0 ? -sample : sample, kMeterFullScale);
}
}  // namespace

ChannelPeaks ScanPeaks(const char* data, uint32_t byteLength) {
    if (data == nullptr) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const uint32_t pairs = byteLength / 4;
    int left = 0;
    int right = 0;
    for (uint32_t k = 0; k < pairs; ++k, p += 4) {
        left = std::max(left, Magnitude(p));
        right = std::max(right, Magnitude(p + 2));
    }
    return {static_cast<uint16_t>(left), static_cast<uint16_t>(right)};
}

ChannelPeaks ScanPeaks(const WAVEHDR& header) {
    return ScanPeaks(header.lpData, header.dwBufferLength);
}

}  // namespace morvane
