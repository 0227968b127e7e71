#pragma once
// Which sound layer the Linux program uses: the native PipeWire one when a
// PipeWire server answers, else the PulseAudio one (PulseAudio systems, or
// no server yet: it connects when one comes). MORVANE_AUDIO=pulse or
// =pipewire forces one.

#include <memory>
#include <string>

namespace morvane {

class IWaveApi;

struct WaveLayer {
    std::unique_ptr<IWaveApi> wave;
    std::string name;  // as --version and the headless program say it
};

// Null wave, and a line for the user in `error`, when the layer asked for
// is not there or MORVANE_AUDIO is not understood.
WaveLayer ChooseWaveLayer(std::string* error);

}  // namespace morvane
