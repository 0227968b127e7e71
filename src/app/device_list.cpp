#include "app/device_list.h"

#include <cstdio>
#include <string>

#include "audio/wave_api.h"

namespace morvane {

int ListDevices(IWaveApi& wave) {
    std::string name;
    const uint32_t inputs = wave.waveInGetNumDevs();
    for (uint32_t i = 0; i < inputs; ++i) {
        name.clear();
        wave.waveInGetDevName(i, &name);
        std::printf("in\t%u\t%s\n", i, name.c_str());
    }
    const uint32_t outputs = wave.waveOutGetNumDevs();
    for (uint32_t i = 0; i < outputs; ++i) {
        name.clear();
        wave.waveOutGetDevName(i, &name);
        std::printf("out\t%u\t%s\n", i, name.c_str());
    }
    if (inputs == 0 && outputs == 0) {
        std::fprintf(stderr, "morvane: no sound devices found (is a sound server running?)\n");
        return 1;
    }
    return 0;
}

}  // namespace morvane
