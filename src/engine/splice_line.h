#pragma once
// The delayed sound of the nudge mode, held by the engine instead of on the
// output. Every captured buffer is kept in a ring, and each output block is
// made just before it is written, from the ring at the delay in force. Only a
// short lead of blocks is ever on the output, so a delay change reaches the
// ear a few blocks later as a splice, without draining the line:
// - longer: the block being made fades out, silence as long as the
//   difference follows, and the sound fades in where it left off;
// - shorter: the block being made fades out and the sound fades in the
//   difference later.
// Changes made before the fade-in is made (a held arrow key, typing) fold
// into one splice that ends at the last value.
//
// Counts are in buffers (tenths of a second); "slot" k is the k-th output
// block since the output began, "sequence" s the s-th captured buffer.

#include <cstdint>
#include <vector>

#include "audio/wave_api.h"

namespace morvane {

class CSpliceLine {
public:
    // Blocks kept on the output: its reserve against late notifications,
    // and how many blocks after a change the splice is heard. 100 ms blocks
    // dropped out under load with less than two in hand.
    static constexpr uint32_t kLeadBuffers = 3;
    // Each edge of a splice fades over this long: short enough not to be
    // heard as a fade, long enough not to click.
    static constexpr uint32_t kFadeMs = 5;
    static uint32_t FadeFrames(uint32_t samplesPerSec) { return samplesPerSec * kFadeMs / 1000; }

    // Clears the line for a new run: nothing captured, no output yet.
    void Start(const WAVEFORMATEX& format, uint32_t bytesPerBuffer, uint32_t ringBuffers);
    void Stop();

    // The next captured buffer (bytesPerBuffer bytes).
    void Capture(const char* data);
    // The delay to run at; the output begins once this many buffers are in.
    void SetDelay(uint32_t count);

    bool Running() const { return m_running; }
    uint64_t Captured() const { return m_captured; }
    // True while an output block is due: fewer than the lead are on the
    // output beyond what has been heard.
    bool BlockDue() const;
    // Makes the next output block into `out` (bytesPerBuffer bytes); null
    // when the block has nowhere to go, which still uses up its slot.
    void Compose(char* out);

private:
    void Begin();
    const char* Sequence(int64_t s) const;
    void Fade(char* block, bool in) const;

    std::vector<char> m_ring;
    uint32_t m_ringBuffers = 0;
    uint32_t m_bytes = 0;
    uint32_t m_fadeFrames = 0;
    uint16_t m_channels = 0;
    bool m_fades = false;

    uint64_t m_captured = 0;
    bool m_running = false;
    uint64_t m_startCaptured = 0;  // buffers in when the output began
    uint64_t m_composed = 0;       // slots made since then
    uint32_t m_target = 1;         // the delay asked for
    uint32_t m_delay = 1;          // the delay the slots are being made at
    int64_t m_lastSequence = -1;   // the newest sequence made into a slot
    bool m_silentEdge = false;     // the last slot ended faded out or silent
};

}  // namespace morvane
