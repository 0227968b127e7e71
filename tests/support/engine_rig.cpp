#include "engine_rig.h"

#include "resource.h"

namespace morvane::sim {

void DelayChecker::operator()(uint64_t start, const int16_t* data, uint32_t frames, uint16_t channels) {
    if (data == nullptr) {
        silentFrames += frames;
        return;
    }
    if (firstSound == UINT64_MAX) firstSound = start;
    const uint64_t delay = delayFrames();
    for (uint32_t f = 0; f < frames; ++f) {
        const uint64_t t = start + f;
        bool ok = t >= delay;
        for (uint16_t c = 0; ok && c < channels; ++c)
            ok = data[f * channels + c] == NoiseSample(t - delay, c);
        if (!ok) {
            ++mismatchedFrames;
            if (firstMismatch == UINT64_MAX) firstMismatch = t;
        }
    }
    playedFrames += frames;
}

EngineRig::EngineRig(int inputs, int outputs, SignalFn signal) {
    for (int i = 0; i < inputs; ++i) sim.AddCaptureDevice("Input " + std::to_string(i), signal);
    for (int i = 0; i < outputs; ++i) sim.AddPlaybackDevice("Output " + std::to_string(i));
    recorder.SetFormat(44100, 16, 2);
    player.SetFormat(44100, 16, 2);
    engine.Preset();
    pump.SetHandler([this](const WaveMessage& m) {
        if (m.msg == MM_WIM_DATA) engine.OnWimData(m.header);
        if (m.msg == MM_WOM_DONE) engine.OnWomDone(m.header);
    });
    controls.onTextSet = [this] { engine.OnDelayUpdate(); };
    checker.delayFrames = [this] { return engine.DelayCount() * kBufferFrames; };
}

void EngineRig::CheckOutput(uint32_t device) {
    sim.SetOutputSink(device, [this](uint64_t s, const int16_t* d, uint32_t f, uint16_t c) {
        checker(s, d, f, c);
    });
}

void EngineRig::SlideTo(uint32_t count) {
    controls.sliderPos = static_cast<int>(count);
    engine.OnHScroll(kTbEndTrack);
}

void EngineRig::Type(const std::string& text) {
    controls.text = text;
    engine.OnDelayUpdate();
}

}  // namespace morvane::sim
