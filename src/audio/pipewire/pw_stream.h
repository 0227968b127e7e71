#pragma once
// One open device of the PipeWire layer: a stream in the graph, and what the
// capture and playback sides share.
//
// Threads: the stream's data moves on the graph's data thread (the process
// callbacks, at the server's real-time pace); its state changes arrive on the
// thread loop; everything else is called on the UI thread. The headers
// queued on a device and the run state are guarded by PwShared::mutex, which
// the data thread holds only while it copies; the thread loop's lock is
// always taken before it, never after.

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "audio/graph_timing.h"
#include "audio/late_capture_watch.h"
#include "audio/run_line_up.h"
#include "audio/wave_api.h"

struct pw_stream;
struct pw_thread_loop;
struct pw_core;
struct pw_time;
struct spa_hook;

namespace morvane {

// What the devices of one layer share, under `mutex`.
struct PwShared {
    std::mutex mutex;
    // The last captured buffer: the reference a playback run is lined up against.
    std::optional<CaptureMark> lastCapture;
    // Falling behind is said on stderr, once each per program run.
    CLateCaptureWatch lateCapture;
    bool toldGap = false;
};

class CPwStream {
public:
    CPwStream(PwShared& shared, bool capture, const StreamFormat& format, IWaveWindow* window);
    virtual ~CPwStream();
    CPwStream(const CPwStream&) = delete;
    CPwStream& operator=(const CPwStream&) = delete;

    // Creates and connects the stream (thread loop lock held); target: a
    // node's name, empty for the default device; monitor: a sink's monitor.
    // Its state changes wake whoever waits on `loop`.
    bool Connect(pw_core* core, pw_thread_loop* loop, const std::string& target, bool monitor,
                 const WAVEFORMATEX& wfx);
    // Ready to move data (connected, its format set), failed, or neither yet.
    bool Ready() const { return m_ready && !m_dead; }
    bool Failed() const { return m_dead; }
    int Error() const { return m_error; }
    // Disconnects it (thread loop lock held, shared mutex not).
    void Disconnect();
    // The server went away, or the stream failed: hand everything back (mutex held).
    void Die();

    bool IsCapture() const { return m_capture; }
    uintptr_t Handle() const { return reinterpret_cast<uintptr_t>(this); }
    void Post(uint32_t msg, WAVEHDR* h) const;
    void Complete(WAVEHDR* h) const;
    // Every queued header back, in queue order (mutex held).
    virtual void ReturnAll() = 0;
    virtual bool Holds() const = 0;

protected:
    virtual void Process() = 0;
    // The graph's timing for this cycle; false before the graph has set it.
    bool Time(GraphTime* out) const;
    static int64_t MonotonicNsec();

    PwShared& m_shared;
    const bool m_capture;
    const StreamFormat m_format;
    IWaveWindow* const m_window;
    pw_stream* m_stream = nullptr;
    uint8_t m_silence = 0;  // the byte of a silent sample

private:
    struct Hooks;
    Hooks* m_hooks = nullptr;
    pw_thread_loop* m_loop = nullptr;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_dead{false};
    std::atomic<int> m_error{0};
    friend struct Hooks;
};

}  // namespace morvane
