#pragma once
// A delay engine wired to the simulator, the message pump and recording
// controls, as the main window wires the real one.

#include <cstdint>

#include "audio/voice_playing.h"
#include "audio/voice_recording.h"
#include "engine/delay_engine.h"
#include "message_pump.h"
#include "recording_controls.h"
#include "sim_wave_api.h"

namespace morvane::sim {

inline constexpr uint64_t kBufferFrames = 4410;  // 100 ms at 44.1 kHz

// Compares everything a playback device outputs with the input signal
// shifted by the delay in force.
struct DelayChecker {
    std::function<uint64_t()> delayFrames;
    uint64_t firstSound = UINT64_MAX;
    uint64_t playedFrames = 0;
    uint64_t silentFrames = 0;
    uint64_t mismatchedFrames = 0;
    uint64_t firstMismatch = UINT64_MAX;

    void operator()(uint64_t start, const int16_t* data, uint32_t frames, uint16_t channels);
};

struct EngineRig {
    CSimWaveApi sim;
    CMessagePump pump;
    CVoiceRecording recorder{sim};
    CVoicePlaying player{sim};
    CRecordingControls controls;
    CDelayEngine engine{recorder, player, controls, &pump};
    DelayChecker checker;

    explicit EngineRig(int inputs = 1, int outputs = 1, SignalFn signal = NoiseSignal);
    // Attaches the checker to output device `device`.
    void CheckOutput(uint32_t device = 0);
    void Run(uint64_t frames) { RunUntil(sim, pump, sim.Now() + frames); }
    // A delay change as the slider makes it at the end of a drag.
    void SlideTo(uint32_t count);
    // A delay change typed into the box.
    void Type(const std::string& text);
};

}  // namespace morvane::sim
