#pragma once
// The streams open on one connection, and what they share: completions
// waiting for the end of an audio-thread pass, what capture tells playback
// (where its last buffer ended, whether any runs), the clock follower, and
// the reports told once per program run.
//
// Called under the loop's lock.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "audio/clock_follower.h"
#include "audio/late_capture_watch.h"
#include "audio/pulse/pulse_loop.h"
#include "audio/wave_api.h"

namespace morvane {

class CPulseContext;
class CPulseStream;

class CPulseStreamSet {
public:
    using Clock = std::chrono::steady_clock;

    explicit CPulseStreamSet(CPulseContext& context);
    ~CPulseStreamSet();
    CPulseStreamSet(const CPulseStreamSet&) = delete;
    CPulseStreamSet& operator=(const CPulseStreamSet&) = delete;

    CPulseContext& Context() const { return m_context; }

    // The open streams, by handle.
    void Add(std::unique_ptr<CPulseStream> stream);
    void Destroy(CPulseStream* stream);
    void DestroyAll();
    CPulseStream* Find(const void* handle, bool capture) const;
    // Whether a capture stream is open, and one on `clock`.
    void CapturesOn(const std::string& clock, bool* open, bool* sameClock) const;

    // The loop's planner: every ready stream plans, then the completions of
    // the pass go out.
    static CPulseLoop::Plan Plan(void* self);
    // Completions made on the audio thread wait for the end of its pass and
    // go out together (one wake-up of the receiver, which then finds the lock
    // free); elsewhere they go out at once.
    void Post(IWaveWindow* window, uint32_t msg, uintptr_t handle, WAVEHDR* header);
    // Every playback stream hands back what has been heard by `now`.
    void FinishAllHeard(Clock::time_point now);

    // Capture: a buffer that ended at `end` came back at `returned`.
    void NoteCaptureEnd(Clock::time_point end, Clock::time_point returned);
    // After a captured buffer came back: says once when capture has fallen
    // behind.
    void CheckCaptureAge();
    void CaptureStarted() { ++m_runningCaptures; }
    void CaptureStopped() {
        if (m_runningCaptures > 0) --m_runningCaptures;
    }
    bool CaptureRunning() const { return m_runningCaptures > 0; }
    // How late (positive) or early a playback run that starts now is
    // against capture, in microseconds.
    int64_t CompensationUsec() const;

    // Holds the delay when capture and playback run on different clocks, by
    // the rate of the playback stream opened last. PipeWire matches its
    // devices' clocks itself and is left alone.
    std::optional<CClockFollower>& Follower() { return m_clock; }
    // When the follower's next reading of a stream is due.
    Clock::time_point NextFollowReading(Clock::time_point now);

    // Falling behind, and following another clock, are said on stderr, once
    // each.
    void ReportGap();
    void ReportClocks(double skew);

private:
    struct PendingPost {
        IWaveWindow* window;
        uint32_t msg;
        uintptr_t handle;
        WAVEHDR* header;
    };

    CPulseContext& m_context;
    std::map<const CPulseStream*, std::unique_ptr<CPulseStream>> m_streams;
    std::vector<PendingPost> m_posts;
    // Where the last completed capture buffer ended, in local time, and when
    // it came back: the reference a playback run is lined up against.
    std::optional<Clock::time_point> m_lastCaptureEnd;
    Clock::time_point m_lastCaptureReturned{};
    uint32_t m_runningCaptures = 0;
    std::optional<CClockFollower> m_clock;
    std::minstd_rand m_followRandom{std::random_device{}()};
    bool m_toldClocks = false;
    CLateCaptureWatch m_lateCapture;  // capture falling behind, told once
    bool m_toldGap = false;
};

}  // namespace morvane
