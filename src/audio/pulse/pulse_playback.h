#pragma once
// A playback stream: hands the written headers to the server strictly in
// order and back once they are heard.
//
// Sent headers are placed in time from the server's timing readings. A run
// (sound after silence) starts late enough into its first buffer that
// capture's latency does not add to the delay; only a little of it is sent
// until the server has read its start, and readings then say how late the
// start is heard, which is left out of (or led into) what follows: lining
// up. The stream running dry while sound waits is a gap, after which the
// rest starts as a run of its own on the old run's time line (resync).
// While a capture on another clock is open, its rate follows capture's.
//
// pulse_playback.cpp feeds, starts runs and mends gaps; the readings (placing
// in time, lining up, following the clock) are in pulse_playback_timing.cpp.

#include <deque>
#include <optional>

#include "audio/pulse/pulse_stream.h"

namespace morvane {

class CPulsePlayback final : public CPulseStream {
public:
    CPulsePlayback(CPulseStreamSet& set, pa_stream* stream, const pa_sample_spec& pcm, IWaveWindow* window)
        : CPulseStream(set, false, stream, pcm, window) {}

    int Connect(const char* deviceName, const std::string& deviceClock) override;
    void Opened() override;
    void Queue(WAVEHDR* h) override;
    void Reset() override;
    bool HoldsBuffers() const override { return !m_queue.empty() || !m_sent.empty(); }
    void Plan(Clock::time_point now, CPulseLoop::Plan* plan) override;
    // Hands back what has been heard by `now`.
    void FinishHeard(Clock::time_point now);
    // How far the last run was started into its first buffer, in
    // microseconds.
    int64_t LastCompensationUsec() const { return m_lastCompensationUsec; }

private:
    // A header wholly handed to the server, waiting to be heard.
    struct Sent {
        WAVEHDR* header;
        uint64_t end;  // our write position just past its last byte
        // When its end is heard, once a reading places it.
        std::optional<Clock::time_point> heardAt;
    };
    // Where the server stood at the last timing reading.
    struct Reading {
        Clock::time_point at;  // when it was taken
        int64_t readPos;       // our write position the server had read then
        int64_t sinkUsec;      // what it read is heard this much later
        bool playing;          // and it went on reading in time
        Clock::time_point HeardAt(uint64_t pos, const pa_sample_spec* pcm) const {
            return at + std::chrono::microseconds(sinkUsec + BytesToUsec(static_cast<int64_t>(pos) - readPos, pcm));
        }
    };
    // Lining up: readings are being taken to see whether the run's start is
    // heard on time.
    struct LineUp {
        uint64_t from;                    // only bytes written from here on tell
        Clock::time_point until;          // give up then
        std::optional<int64_t> lateUsec;  // the earliest placement so far
        int readings = 0;
    };

    void Ended() override;
    // Hands every queued header back, in queue order, and ends the run.
    void ReturnAll();
    // Hands the server as much of the queued headers as it asks for.
    // topUp: write this much even if the server has not asked for it yet.
    void Feed(size_t topUp = 0);
    void StartRun(int64_t lateUsec, bool probe);
    void Resync();

    // pulse_playback_timing.cpp
    void RequestTiming();
    void Place(bool all);
    void FollowClocks(Clock::time_point now);
    void BeginLineUp(uint64_t from);
    void TakeLineUpReading(Clock::time_point now);
    void FinishLineUp();

    // libpulse callbacks.
    static void Write(pa_stream*, size_t, void* userdata);
    static void Underflow(pa_stream*, void* userdata);
    static void Timing(pa_stream* s, int success, void* userdata);

    // Written headers not yet wholly handed to the server are m_queue, the
    // front one partly sent (m_frontOffset bytes).
    std::deque<Sent> m_sent;
    std::optional<Reading> m_reading;
    size_t m_frontOffset = 0;
    uint64_t m_written = 0;
    uint64_t m_skipBytes = 0;  // to leave out of the start of a run
    uint64_t m_padBytes = 0;   // of silence to lead a run in with
    int64_t m_lastCompensationUsec = 0;
    // The start of a run is measured once it plays and corrected then; until
    // that only a little of it is sent (probing).
    bool m_probing = false;
    uint64_t m_runStart = 0;         // our write position of the run's first byte
    Clock::time_point m_runTarget;  // when that byte should be heard
    // Written bytes are heard this much later than m_runTarget and their
    // distance from m_runStart say: what was skipped (or padded) to keep the
    // run on time, as those bytes are later (earlier) in the source.
    int64_t m_runShiftUsec = 0;
    std::optional<LineUp> m_lineUp;
    // The run's start is so late that its first buffers were left out whole
    // and none of it has been sent yet: what comes next is still that run.
    bool m_skippedAhead = false;
    // The server ran dry with nothing waiting here, and when.
    bool m_dry = false;
    Clock::time_point m_dryAt{};
    // Its rate may follow capture's clock, and what it is now.
    bool m_variableRate = false;
    uint32_t m_appliedRate = 0;
};

}  // namespace morvane
