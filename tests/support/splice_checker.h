#pragma once
// Follows what a playback device outputs in the nudge mode, where the delay
// changes without a drain: the output is the noise input at one lag (a whole
// number of buffers), then a splice, then the input at another lag. A splice
// is the stretch from the first frame that is not the input at the old lag to
// the first that is the input at the new one; within it every frame must be
// silence or a faded copy (same sign, no louder) of the input at either lag.

#include <cstdint>
#include <vector>

namespace morvane::sim {

struct Splice {
    uint64_t start;    // first frame off the old lag
    uint64_t end;      // first frame exact at the new lag
    uint64_t fromLag;  // frames
    uint64_t toLag;
    uint64_t silent;   // frames of the stretch that were exactly zero
    // Sounding frames that are a faded copy of the old lag's input only, and
    // of the new lag's only: the two fades.
    uint64_t fadedOut = 0;
    uint64_t fadedIn = 0;
};

struct SpliceChecker {
    uint64_t bufferFrames = 4410;
    uint64_t maxLag = 299 * 4410;
    // Longer than one fade: frames off the lag this soon after a splice
    // still belong to it.
    uint64_t fadeWindow = 441;

    uint64_t lag = 0;  // 0: no sound yet in this run
    uint64_t firstSound = UINT64_MAX;
    uint64_t exactFrames = 0;
    uint64_t underrunFrames = 0;
    // Frames of a splice that are neither silence nor a faded copy, and
    // frames that matched no lag at all.
    uint64_t badFrames = 0;
    uint64_t firstBad = UINT64_MAX;
    std::vector<Splice> splices;

    // After a Play: the next sound starts a new run at any lag.
    void NewRun();
    void operator()(uint64_t start, const int16_t* data, uint32_t frames, uint16_t channels);
    // True while a splice has begun and not yet ended.
    bool InSplice() const { return m_inSplice; }

private:
    void Frame(uint64_t t, const int16_t* x, uint16_t channels);
    bool Exact(uint64_t t, const int16_t* x, uint16_t channels, uint64_t lag) const;
    uint64_t FindLag(uint64_t t, const int16_t* x, uint16_t channels) const;
    bool Faded(uint64_t t, const int16_t* x, uint16_t channels, uint64_t lag) const;
    void Bad(uint64_t t);

    bool m_inSplice = false;
    Splice m_current{};
    // The splice's sounding frames, checked once its new lag is known.
    std::vector<uint64_t> m_faded;
    std::vector<int16_t> m_samples;
};

}  // namespace morvane::sim
