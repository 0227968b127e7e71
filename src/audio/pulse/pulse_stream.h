#pragma once
// One open stream of the wave layer: what capture (CPulseCapture) and
// playback (CPulsePlayback) have in common. Its address is the device handle.
//
// Locking: the loop's lock guards every field. Callbacks run on the loop's
// thread with it held; the public calls take it on the caller's thread. A
// header belongs to the caller unless it is queued; while queued only code
// under the lock touches it, and it is handed back (flags first, then the
// posted message) exactly once.

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "audio/pulse/pulse_loop.h"
#include "audio/wave_api.h"

namespace morvane {

class CPulseStreamSet;

class CPulseStream {
public:
    using Clock = std::chrono::steady_clock;
    // Timing readings taken in a row (to find one just after a processing
    // cycle of the server, or while lining a run up) are this far apart.
    static constexpr auto kLineUpSpacing = std::chrono::milliseconds(3);

    // Takes the stream over: its state callback now, the rest by Connect.
    CPulseStream(CPulseStreamSet& set, bool capture, pa_stream* stream, const pa_sample_spec& pcm,
                 IWaveWindow* window);
    virtual ~CPulseStream();  // cancels what it asked for and disconnects
    CPulseStream(const CPulseStream&) = delete;
    CPulseStream& operator=(const CPulseStream&) = delete;

    bool IsCapture() const { return m_capture; }
    IWaveWindow* Window() const { return m_window; }
    uintptr_t Handle() const { return reinterpret_cast<uintptr_t>(this); }
    bool Ready() const {
        return !m_dead && m_stream != nullptr && pa_stream_get_state(m_stream) == PA_STREAM_READY;
    }
    void Post(uint32_t msg, WAVEHDR* h);

    // Connects the stream to the device named (null: the server's default).
    virtual int Connect(const char* deviceName, const std::string& deviceClock) = 0;
    // After the stream is ready, before the caller gets it.
    virtual void Opened() {}
    // Queues a header the caller handed over (already marked queued).
    virtual void Queue(WAVEHDR* h) = 0;
    // Stops at once and hands every queued header back, in order.
    virtual void Reset() = 0;
    virtual bool HoldsBuffers() const { return !m_queue.empty(); }
    // Before the audio thread sleeps (a ready stream only).
    virtual void Plan(Clock::time_point now, CPulseLoop::Plan* plan) = 0;

protected:
    // Buffer attributes that leave every one to the server.
    static pa_buffer_attr UnsetBufferAttr();
    void Complete(WAVEHDR* h);
    void CancelTiming();
    // The stream failed or the server went away: hand everything back.
    virtual void Ended() = 0;

    CPulseStreamSet& m_set;
    pa_stream* const m_stream;
    const pa_sample_spec m_pcm;
    const size_t m_frame;
    // Capture: queued headers, the front one being filled.
    // Playback: written headers not yet wholly handed to the server, the front
    // one partly sent.
    std::deque<WAVEHDR*> m_queue;
    pa_operation* m_timingOp = nullptr;
    Clock::time_point m_retryAt{};  // no reading is asked for before then
    bool m_dead = false;            // the stream failed or the server went away
    // While playback follows capture's clock, when this stream is next read
    // for the follower.
    Clock::time_point m_followAt{};

private:
    static void State(pa_stream* s, void* userdata);

    const bool m_capture;
    IWaveWindow* const m_window;
};

// A signed byte count as a signed duration.
int64_t BytesToUsec(int64_t bytes, const pa_sample_spec* pcm);
// A point of the local clock as seconds, for the clock follower.
double Seconds(std::chrono::steady_clock::time_point t);
// A time stamp of the server's clock (the wall clock) on our clock.
std::chrono::steady_clock::time_point TimeOf(const timeval& stamp);

}  // namespace morvane
