// A playback stream: feeding the server, starting runs, mending gaps, and
// handing back what was heard.

#include "audio/pulse/pulse_playback.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "audio/pulse/pulse_context.h"
#include "audio/pulse/pulse_stream_set.h"
#include "audio/pulse/pulse_wave_api.h"

namespace morvane {
namespace {

// A write this soon after the stream ran dry with nothing waiting was late
// (a run's end is followed by a refill of 0.1 s at least).
constexpr auto kLateWrite = std::chrono::milliseconds(50);
// What a run sends before its start has been measured. PipeWire starts a
// stream only once it holds a processing cycle's worth (1024 frames by
// default): send two.
constexpr pa_usec_t kProbeUsec = 50 * PA_USEC_PER_MSEC;

}  // namespace

int CPulsePlayback::Connect(const char* deviceName, const std::string& deviceClock) {
    pa_buffer_attr attr = UnsetBufferAttr();
    attr.tlength = static_cast<uint32_t>(
        pa_usec_to_bytes(CPulseWaveApi::kPlaybackTargetMs * PA_USEC_PER_MSEC, &m_pcm));
    attr.minreq = static_cast<uint32_t>(
        pa_usec_to_bytes(CPulseWaveApi::kPlaybackRequestMs * PA_USEC_PER_MSEC, &m_pcm));
    // Start as soon as anything is written; after running dry, wait for
    // the next write instead of playing on into silence.
    attr.prebuf = static_cast<uint32_t>(m_frame);
    pa_stream_set_write_callback(m_stream, &CPulsePlayback::Write, this);
    pa_stream_set_underflow_callback(m_stream, &CPulsePlayback::Underflow, this);
    // Playback follows capture's clock unless the two cannot drift apart.
    // With no capture open there is no clock to follow, and a stream
    // whose rate may change is resampled even at its own rate: it would
    // no longer play exactly what it is given.
    bool captureOpen = false, sameClock = false;
    m_set.CapturesOn(deviceClock, &captureOpen, &sameClock);
    // MORVANE_CLOCK_FOLLOW=0 leaves the rate alone (to see the drift).
    const char* follow = std::getenv("MORVANE_CLOCK_FOLLOW");
    m_variableRate = !m_set.Context().CycleStamped() && captureOpen && !sameClock &&
                     !(follow != nullptr && std::strcmp(follow, "0") == 0);
    m_appliedRate = m_pcm.rate;
    if (m_variableRate)
        m_set.Follower().emplace(m_pcm.rate);
    else
        m_set.Follower().reset();  // nor is capture read for it any more
    return pa_stream_connect_playback(
        m_stream, deviceName, &attr,
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | (m_variableRate ? PA_STREAM_VARIABLE_RATE : 0)),
        nullptr, nullptr);
}

void CPulsePlayback::Opened() {
    // Runs are lined up using the sink's latency: have it now.
    m_set.Context().WaitOperation(pa_stream_update_timing_info(m_stream, nullptr, nullptr),
                                  CPulseContext::kOperationTimeoutMs);
}

void CPulsePlayback::Ended() {
    m_dead = true;
    ReturnAll();
}

void CPulsePlayback::ReturnAll() {
    std::deque<Sent> s;
    s.swap(m_sent);
    std::deque<WAVEHDR*> q;
    q.swap(m_queue);
    m_frontOffset = 0;
    m_skipBytes = 0;
    m_padBytes = 0;
    m_probing = false;
    m_lineUp.reset();
    m_skippedAhead = false;
    m_dry = false;
    for (const Sent& x : s) Complete(x.header);
    for (WAVEHDR* h : q) Complete(h);
}

void CPulsePlayback::Queue(WAVEHDR* h) {
    // Sound that comes right after the stream ran dry was late: a gap.
    // Sound that comes later is a run of its own, even while the last
    // buffers before it are still being handed back.
    // A run late by more than its first buffers goes on with the next one,
    // which must not be taken as late again and left out in turn (nothing
    // would ever be heard).
    const bool gap = m_dry && Clock::now() - m_dryAt < kLateWrite;
    const bool newRun = !gap && ((m_queue.empty() && m_sent.empty() && !m_skippedAhead) || m_dry);
    m_dry = false;
    m_queue.push_back(h);
    if (gap) {
        Resync();
    } else if (newRun) {
        // A new run: start it late enough into its first buffer that
        // capture latency does not add to the delay, or lead it in with
        // silence when capture was early (a monitor's data comes before it is
        // heard). The playback side is measured once the run plays.
        const int64_t usec = m_set.CompensationUsec();
        StartRun(usec, usec != 0 || m_set.CaptureRunning());
    } else {
        Feed();
    }
    // A run's first buffers need the audio thread to watch them.
    CPulseLoop* loop = m_set.Context().Loop();
    if ((newRun || gap) && !loop->InThread()) loop->Wake();
}

void CPulsePlayback::Reset() {
    // Detach the queue first: while the flush is on its way the audio thread
    // must not send any of it.
    std::deque<Sent> sent;
    std::deque<WAVEHDR*> queue;
    sent.swap(m_sent);
    queue.swap(m_queue);
    ReturnAll();         // nothing left to return; clears the run's state
    m_reading.reset();  // the flush moves the server's read position
    if (Ready()) {
        // Each wait ends early if the stream or the server fails meanwhile.
        CPulseContext& context = m_set.Context();
        context.WaitOperation(pa_stream_flush(m_stream, nullptr, nullptr), CPulseContext::kOperationTimeoutMs);
        // The flush moved the server's indices: learn them before the next
        // run is started and its buffers are tracked.
        if (Ready())
            context.WaitOperation(pa_stream_update_timing_info(m_stream, nullptr, nullptr),
                                  CPulseContext::kOperationTimeoutMs);
    }
    // Posted from here, in queue order, before returning. Anything the audio
    // thread finished meanwhile was posted earlier, so the order holds.
    for (const Sent& x : sent) Complete(x.header);
    for (WAVEHDR* h : queue) Complete(h);
}

void CPulsePlayback::Write(pa_stream*, size_t, void* userdata) { static_cast<CPulsePlayback*>(userdata)->Feed(); }

void CPulsePlayback::Feed(size_t topUp) {
    if (!Ready()) return;
    size_t room = pa_stream_writable_size(m_stream);
    if (room == static_cast<size_t>(-1)) return;
    room = std::max(room, topUp);
    if (m_probing) {
        const uint64_t limit = m_runStart + pa_usec_to_bytes(kProbeUsec, &m_pcm);
        room = m_written >= limit ? 0 : std::min<size_t>(room, limit - m_written);
    }
    room -= room % m_frame;
    while (m_padBytes > 0 && room > 0 && !m_queue.empty()) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(m_padBytes, room));
        void* buf = nullptr;
        size_t n = k;
        if (pa_stream_begin_write(m_stream, &buf, &n) < 0 || buf == nullptr) break;
        n = std::min(n, k);
        n -= n % m_frame;
        if (n == 0) {
            pa_stream_cancel_write(m_stream);
            break;
        }
        std::memset(buf, m_pcm.format == PA_SAMPLE_U8 ? 0x80 : 0, n);
        if (pa_stream_write(m_stream, buf, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
        m_padBytes -= n;
        m_written += n;
        room -= n;
    }
    while (!m_queue.empty()) {
        WAVEHDR* h = m_queue.front();
        // A trailing part frame of a header cannot be played; it is dropped.
        const size_t usable = h->dwBufferLength - h->dwBufferLength % m_frame;
        if (m_skipBytes > 0) {
            const bool fromStart = m_frontOffset == 0;
            const size_t k =
                static_cast<size_t>(std::min<uint64_t>(m_skipBytes, usable - std::min(usable, m_frontOffset)));
            m_frontOffset += k;
            m_skipBytes -= k;
            // A buffer left out whole, with nothing before it still to
            // be heard, goes back at once: the receiver may want it again
            // soon (it reuses a buffer one delay later).
            if (fromStart && m_frontOffset >= usable && m_sent.empty()) {
                m_queue.pop_front();
                m_frontOffset = 0;
                m_skippedAhead = true;
                Complete(h);
                continue;
            }
        }
        if (m_frontOffset >= usable) {
            m_queue.pop_front();
            m_frontOffset = 0;
            m_sent.push_back({h, m_written, std::nullopt});
            continue;
        }
        if (room == 0) break;
        const size_t k = std::min(room, usable - m_frontOffset);
        if (pa_stream_write(m_stream, h->lpData + m_frontOffset, k, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
        m_frontOffset += k;
        m_written += k;
        m_skippedAhead = false;
        room -= k;
    }
    Place(false);
}

// A run starts: `lateUsec` of its first queued byte's time is past already
// (skipped; a negative figure leads it in with silence). What is sent before
// the playback side has been measured is kept short.
void CPulsePlayback::StartRun(int64_t lateUsec, bool probe) {
    const uint64_t bytes = pa_usec_to_bytes(static_cast<pa_usec_t>(std::abs(lateUsec)), &m_pcm);
    m_skipBytes = lateUsec >= 0 ? bytes : 0;
    m_padBytes = lateUsec < 0 ? bytes : 0;
    m_lastCompensationUsec = lateUsec;
    m_runStart = m_written;
    m_runTarget = Clock::now();
    m_runShiftUsec = 0;
    m_skippedAhead = false;
    m_probing = probe;
    if (m_set.Follower()) m_set.Follower()->Restart();
    // The stream ran dry or was flushed since: earlier readings no longer
    // tell where it plays.
    m_reading.reset();
    m_lineUp.reset();
    m_retryAt = Clock::time_point{};
    CancelTiming();  // its answer would predate the run
    Feed();
    if (m_probing) BeginLineUp(m_runStart);
}

// The run went on after a gap (the stream ran dry while sound was due):
// everything after it would be late by the gap, and the server may hold some
// of it already. Drop what the server holds, hand back what was sent, and
// start the rest as a run of its own that keeps the old one's time line, so
// that the delay stays what it was.
void CPulsePlayback::Resync() {
    const Clock::time_point now = Clock::now();
    // When the front header's first byte was due, on the run's time line
    // (what it had sent goes again from its start): its sent part lies just
    // before our write position, and a skip still to come would have put it
    // earlier, silence still to lead in later.
    const int64_t aheadBytes = static_cast<int64_t>(m_padBytes) - static_cast<int64_t>(m_skipBytes) -
                               static_cast<int64_t>(m_frontOffset);
    const Clock::time_point due =
        m_runTarget + std::chrono::microseconds(m_runShiftUsec) +
        std::chrono::microseconds(BytesToUsec(
            static_cast<int64_t>(m_written) - static_cast<int64_t>(m_runStart) + aheadBytes, &m_pcm));
    if (pa_operation* op = pa_stream_flush(m_stream, nullptr, nullptr)) pa_operation_unref(op);
    m_frontOffset = 0;
    std::deque<Sent> sent;
    sent.swap(m_sent);
    for (const Sent& x : sent) Complete(x.header);
    m_set.ReportGap();
    StartRun(std::chrono::duration_cast<std::chrono::microseconds>(now - due).count(), true);
}

// The server ran dry. With sound still waiting here, that is a gap; with
// none, the run may have ended, or its next sound comes late (see Queue).
void CPulsePlayback::Underflow(pa_stream*, void* userdata) {
    auto* self = static_cast<CPulsePlayback*>(userdata);
    self->m_reading.reset();
    if (self->m_queue.empty()) {
        self->m_dry = true;
        self->m_dryAt = Clock::now();
    } else if (!self->m_probing) {  // a run's start may run dry until it is measured
        self->Resync();
    }
}

void CPulsePlayback::FinishHeard(Clock::time_point now) {
    while (!m_sent.empty() && m_sent.front().heardAt && *m_sent.front().heardAt <= now) {
        WAVEHDR* h = m_sent.front().header;
        m_sent.pop_front();
        Complete(h);
    }
}

}  // namespace morvane
