#pragma once
// A capture stream: fills the queued headers strictly in order, and places
// each completed buffer's end in time for playback to line its runs up
// against (see CPulseStreamSet).
//
// Capture is placed in time from the server's timing readings: the last
// one, or, on a server whose positions are of its last processing cycle,
// the earliest placement among recent readings; without any, from the
// stream's latency as the data arrives.

#include <deque>
#include <optional>
#include <string>

#include "audio/pulse/pulse_stream.h"

namespace morvane {

class CPulseCapture final : public CPulseStream {
public:
    CPulseCapture(CPulseStreamSet& set, pa_stream* stream, const pa_sample_spec& pcm, IWaveWindow* window)
        : CPulseStream(set, true, stream, pcm, window) {}
    ~CPulseCapture() override;

    // Which clock the device runs on, if known.
    const std::string& DeviceClock() const { return m_deviceClock; }

    int Connect(const char* deviceName, const std::string& deviceClock) override;
    void Queue(WAVEHDR* h) override;
    void Reset() override;
    void Plan(Clock::time_point now, CPulseLoop::Plan* plan) override;
    // Uncorks; readings from before place nothing.
    void Start();
    // Corks; the buffer being filled comes back with what it holds.
    void Stop();

private:
    void Ended() override;
    // Capture stops counting as running; false if it was not.
    bool NotRunning();
    void Consume(const char* data, size_t n);
    // When the byte `offset` into the fragment being read was heard, if known.
    std::optional<Clock::time_point> CaptureEnd(size_t offset) const;

    // libpulse callbacks.
    static void Read(pa_stream* s, size_t, void* userdata);
    static void Reading(pa_stream* s, void* userdata);
    static void TimingDone(pa_stream*, int, void* userdata);

    std::string m_deviceClock;
    bool m_started = false;  // uncorked by start
    // When data last came in (or filling began); the front header should be
    // full its missing length after that.
    Clock::time_point m_lastData{};
    // When (by our clock) byte 0 of the stream was heard, by reading, with
    // when the reading came; and the readings still to take.
    struct Origin {
        Clock::time_point takenAt;
        Clock::time_point origin;
    };
    std::deque<Origin> m_origins;
    int m_burstLeft = 0;
    Clock::time_point m_nextBurst{};
};

}  // namespace morvane
