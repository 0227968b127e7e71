#include "wave_rig.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace morvane::winmmtest {

WAVEFORMATEX ProgramFormat() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 44100;
    f.nAvgBytesPerSec = 176400;
    f.nBlockAlign = 4;
    f.wBitsPerSample = 16;
    return f;
}

std::vector<std::string> DeviceNames(IWaveApi& api, bool capture) {
    std::vector<std::string> names;
    const uint32_t n = capture ? api.waveInGetNumDevs() : api.waveOutGetNumDevs();
    for (uint32_t id = 0; id < n; ++id) {
        std::string name;
        if (capture) api.waveInGetDevName(id, &name);
        else api.waveOutGetDevName(id, &name);
        names.push_back(name);
    }
    return names;
}

std::optional<uint32_t> DeviceId(IWaveApi& api, bool capture, const std::string& name) {
    const auto names = DeviceNames(api, capture);
    for (uint32_t id = 0; id < names.size(); ++id)
        if (names[id] == name) return id;
    return std::nullopt;
}

void FillTone(char* block, uint32_t bytes, double hz, int16_t peak, uint32_t firstFrame) {
    for (uint32_t frame = 0; frame < bytes / 4; ++frame) {
        const double t = static_cast<double>(firstFrame + frame) / 44100.0;
        const auto v = static_cast<int16_t>(peak * std::sin(2.0 * 3.14159265358979 * hz * t));
        std::memcpy(block + frame * 4, &v, 2);
        std::memcpy(block + frame * 4 + 2, &v, 2);
    }
}

int PeakOf(const char* block, uint32_t bytes) {
    int peak = 0;
    for (uint32_t i = 0; i + 1 < bytes; i += 2) {
        int16_t v;
        std::memcpy(&v, block + i, 2);
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    }
    return peak;
}

}  // namespace morvane::winmmtest
