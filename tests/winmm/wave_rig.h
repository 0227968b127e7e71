#pragma once
// What the tests of the Windows wave layer share: the layer itself, devices
// chosen by name, the program's audio format and a set of buffers.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/winmm/winmm_wave_api.h"

namespace morvane::winmmtest {

// 100 ms of 44 100 Hz, 16-bit stereo.
constexpr uint32_t kBufferBytes = 17640;

WAVEFORMATEX ProgramFormat();

// Every device's name, in id order.
std::vector<std::string> DeviceNames(IWaveApi& api, bool capture);
// The id of the device of this name, the driver's own order being unstable.
std::optional<uint32_t> DeviceId(IWaveApi& api, bool capture, const std::string& name);

// Buffers that stay where they are while a device holds them; header i has
// dwUser i.
template <size_t N>
struct BufferSet {
    BufferSet() {
        for (size_t i = 0; i < N; ++i) {
            blocks[i].assign(kBufferBytes, 0);
            headers[i] = WAVEHDR{};
            headers[i].lpData = blocks[i].data();
            headers[i].dwBufferLength = kBufferBytes;
            headers[i].dwUser = i;
        }
    }
    BufferSet(const BufferSet&) = delete;
    BufferSet& operator=(const BufferSet&) = delete;
    std::array<std::vector<char>, N> blocks;
    std::array<WAVEHDR, N> headers;
};

// Fills a block with a stereo sine of this frequency and peak.
void FillTone(char* block, uint32_t bytes, double hz, int16_t peak, uint32_t firstFrame);
// The largest absolute sample value in the first `bytes` of a block.
int PeakOf(const char* block, uint32_t bytes);

}  // namespace morvane::winmmtest
