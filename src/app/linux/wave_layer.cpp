#include "app/linux/wave_layer.h"

#include <cstdlib>
#include <cstring>

#include "audio/pipewire/pipewire_wave_api.h"
#include "audio/pulse/pulse_wave_api.h"

namespace morvane {

WaveLayer ChooseWaveLayer(std::string* error) {
    const char* forced = std::getenv("MORVANE_AUDIO");
    if (forced != nullptr && *forced != '\0' && std::strcmp(forced, "pulse") != 0 &&
        std::strcmp(forced, "pipewire") != 0) {
        *error = std::string("morvane: MORVANE_AUDIO must be \"pulse\" or \"pipewire\", not \"") + forced + "\"";
        return {};
    }
    const bool wantPulse = forced != nullptr && std::strcmp(forced, "pulse") == 0;
    const bool wantPipeWire = forced != nullptr && std::strcmp(forced, "pipewire") == 0;
    if (!wantPulse) {
        auto pw = std::make_unique<CPipeWireWaveApi>();
        if (pw->Connect()) return {std::move(pw), "PipeWire"};
        if (wantPipeWire) {
            *error = "morvane: MORVANE_AUDIO=pipewire, but no PipeWire server answers";
            return {};
        }
    }
    auto pulse = std::make_unique<CPulseWaveApi>();
    if (wantPulse && pulse->waveInGetNumDevs() == 0 && pulse->waveOutGetNumDevs() == 0) {
        *error = "morvane: MORVANE_AUDIO=pulse, but no PulseAudio server answers";
        return {};
    }
    return {std::move(pulse), "PulseAudio"};
}

}  // namespace morvane
