// A capture stream: filling headers and placing their ends in time.

#include "audio/pulse/pulse_capture.h"

#include <algorithm>
#include <cstring>

#include "audio/pulse/pulse_context.h"
#include "audio/pulse/pulse_stream_set.h"
#include "audio/pulse/pulse_wave_api.h"

namespace morvane {
namespace {

// Where positions are of the last cycle, capture is placed from the earliest
// placement among the readings of the last kCaptureReadingSpan: a burst of
// kCaptureBurst readings kLineUpSpacing apart when capture starts and every
// kCaptureBurstInterval, to catch one just after a cycle, and the library's
// own readings between.
constexpr int kCaptureBurst = 8;
constexpr auto kCaptureBurstInterval = std::chrono::seconds(5);
constexpr auto kCaptureReadingSpan = std::chrono::seconds(12);

}  // namespace

CPulseCapture::~CPulseCapture() { NotRunning(); }

int CPulseCapture::Connect(const char* deviceName, const std::string& deviceClock) {
    m_deviceClock = deviceClock;
    pa_buffer_attr attr = UnsetBufferAttr();
    // Small fragments: a buffer comes back soon after its last sample
    // (a monitor otherwise hands data out in chunks of up to 2 s).
    attr.fragsize = static_cast<uint32_t>(
        pa_usec_to_bytes(CPulseWaveApi::kCaptureFragmentMs * PA_USEC_PER_MSEC, &m_pcm));
    pa_stream_set_read_callback(m_stream, &CPulseCapture::Read, this);
    pa_stream_set_latency_update_callback(m_stream, &CPulseCapture::Reading, this);
    return pa_stream_connect_record(
        m_stream, deviceName, &attr,
        static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE));
}

bool CPulseCapture::NotRunning() {
    if (!m_started) return false;
    m_started = false;
    m_set.CaptureStopped();
    return true;
}

void CPulseCapture::Ended() {
    NotRunning();
    m_dead = true;
    std::deque<WAVEHDR*> q;
    q.swap(m_queue);
    for (WAVEHDR* h : q) Complete(h);
}

void CPulseCapture::Queue(WAVEHDR* h) {
    h->dwBytesRecorded = 0;
    // Data that came while nothing was queued was dropped: filling starts now.
    if (m_queue.empty()) m_lastData = Clock::now();
    m_queue.push_back(h);
}

void CPulseCapture::Start() {
    if (m_started) return;
    m_started = true;
    m_lastData = Clock::now();
    // Readings from before the start place nothing now.
    m_origins.clear();
    if (m_set.Follower()) m_set.Follower()->ForgetCapture();
    m_burstLeft = 0;
    m_nextBurst = Clock::time_point{};
    m_retryAt = Clock::time_point{};
    m_set.CaptureStarted();
    if (pa_operation* op = pa_stream_cork(m_stream, 0, nullptr, nullptr)) pa_operation_unref(op);
}

void CPulseCapture::Stop() {
    if (NotRunning() && Ready())
        if (pa_operation* op = pa_stream_cork(m_stream, 1, nullptr, nullptr)) pa_operation_unref(op);
    // The buffer being filled comes back with what it holds; empty ones stay.
    if (!m_queue.empty() && m_queue.front()->dwBytesRecorded > 0) {
        WAVEHDR* h = m_queue.front();
        m_queue.pop_front();
        Complete(h);
    }
}

void CPulseCapture::Reset() {
    NotRunning();
    // Detach the queue first: while the flush is on its way the audio thread
    // must not fill any of it.
    std::deque<WAVEHDR*> queue;
    queue.swap(m_queue);
    if (Ready()) {
        // Each wait ends early if the stream or the server fails meanwhile.
        CPulseContext& context = m_set.Context();
        context.WaitOperation(pa_stream_cork(m_stream, 1, nullptr, nullptr), CPulseContext::kOperationTimeoutMs);
        if (Ready()) context.WaitOperation(pa_stream_flush(m_stream, nullptr, nullptr), CPulseContext::kOperationTimeoutMs);
        if (Ready()) {
            // Drop what had already reached us before the cork.
            const void* data = nullptr;
            size_t n = 0;
            while (pa_stream_readable_size(m_stream) > 0 && pa_stream_peek(m_stream, &data, &n) == 0 && n > 0)
                pa_stream_drop(m_stream);
        }
    }
    // Posted from here, in queue order, before returning. Anything the audio
    // thread finished meanwhile was posted earlier, so the order holds.
    for (WAVEHDR* h : queue) Complete(h);
}

// Fill the queued headers strictly in order. A fragment arrives every time
// the source hands data out: keep the library calls per fragment few (each
// one is a system call or more).
void CPulseCapture::Read(pa_stream* s, size_t, void* userdata) {
    auto* self = static_cast<CPulseCapture*>(userdata);
    for (;;) {
        const void* data = nullptr;
        size_t n = 0;
        if (pa_stream_peek(s, &data, &n) < 0 || n == 0) break;
        if (data != nullptr && self->m_started) {
            self->Consume(static_cast<const char*>(data), n);
            self->m_lastData = Clock::now();
        }
        pa_stream_drop(s);  // also drops a hole (data null)
    }
}

void CPulseCapture::Consume(const char* data, size_t n) {
    size_t offset = 0;
    while (!m_queue.empty()) {
        WAVEHDR* h = m_queue.front();
        const size_t room = h->dwBufferLength - h->dwBytesRecorded;
        const size_t k = std::min(room, n - offset);
        if (k > 0) std::memcpy(h->lpData + h->dwBytesRecorded, data + offset, k);
        h->dwBytesRecorded += static_cast<uint32_t>(k);
        offset += k;
        if (h->dwBytesRecorded < h->dwBufferLength) break;
        if (const std::optional<Clock::time_point> end = CaptureEnd(offset))
            m_set.NoteCaptureEnd(*end, Clock::now());
        m_set.CheckCaptureAge();
        m_queue.pop_front();
        // What was heard before this was captured goes back first: the
        // receiver may reuse those buffers for it.
        m_set.FinishAllHeard(Clock::now());
        Complete(h);
    }
    // Whatever arrives with no header queued is lost, as on the platform.
}

// A timing reading came (the library's own or one we asked for). As it was
// taken, the server had written up to write_index, and that byte was recorded
// source_usec earlier, or, from a monitor, is heard sink_usec later; our read
// position counts in the same bytes.
void CPulseCapture::Reading(pa_stream* s, void* userdata) {
    auto* self = static_cast<CPulseCapture*>(userdata);
    const pa_timing_info* ti = pa_stream_get_timing_info(s);
    if (!self->m_started || ti == nullptr || ti->write_index_corrupt) return;
    const int64_t usec = -BytesToUsec(ti->write_index, &self->m_pcm) + static_cast<int64_t>(ti->sink_usec) -
                         static_cast<int64_t>(ti->source_usec);
    const Clock::time_point now = Clock::now();
    self->m_origins.push_back({now, TimeOf(ti->timestamp) + std::chrono::microseconds(usec)});
    if (self->m_set.Follower())
        self->m_set.Follower()->AddCapture(Seconds(TimeOf(ti->timestamp)), Seconds(self->m_origins.back().origin));
    while (self->m_origins.size() > 1 && now - self->m_origins.front().takenAt > kCaptureReadingSpan)
        self->m_origins.pop_front();
}

void CPulseCapture::TimingDone(pa_stream*, int, void* userdata) {
    auto* self = static_cast<CPulseCapture*>(userdata);
    if (self->m_timingOp != nullptr) {
        pa_operation_unref(self->m_timingOp);
        self->m_timingOp = nullptr;
    }
    self->m_retryAt = Clock::now() + kLineUpSpacing;
}

std::optional<CPulseCapture::Clock::time_point> CPulseCapture::CaptureEnd(size_t offset) const {
    const pa_timing_info* ti = pa_stream_get_timing_info(m_stream);
    if (!m_origins.empty() && ti != nullptr && !ti->read_index_corrupt) {
        Clock::time_point origin = m_origins.back().origin;
        if (m_set.Context().CycleStamped())
            for (const Origin& o : m_origins) origin = std::min(origin, o.origin);
        return origin + std::chrono::microseconds(BytesToUsec(ti->read_index + static_cast<int64_t>(offset), &m_pcm));
    }
    // How old the first byte of this fragment is; a monitor's data can
    // arrive before it is heard, so this may be negative.
    pa_usec_t lat = 0;
    int negative = 0;
    if (pa_stream_get_latency(m_stream, &lat, &negative) != 0) return std::nullopt;
    const int64_t ageUsec = negative ? -static_cast<int64_t>(lat) : static_cast<int64_t>(lat);
    const int64_t endAge = ageUsec - static_cast<int64_t>(pa_bytes_to_usec(offset, &m_pcm));
    return Clock::now() - std::chrono::microseconds(endAge);
}

// The server's messages can wait until the front header should be full; one
// that is overdue takes them as they come.
void CPulseCapture::Plan(Clock::time_point now, CPulseLoop::Plan* plan) {
    if (!m_started) return;
    if (m_set.Context().CycleStamped() && m_burstLeft == 0 && now >= m_nextBurst) {
        m_burstLeft = kCaptureBurst;
        m_nextBurst = now + kCaptureBurstInterval;
    }
    if (m_burstLeft > 0 && m_timingOp == nullptr) {
        if (now >= m_retryAt) {
            m_timingOp = pa_stream_update_timing_info(m_stream, &CPulseCapture::TimingDone, this);
            if (m_timingOp != nullptr) --m_burstLeft;
        } else {
            plan->wakeAt = std::min(plan->wakeAt, m_retryAt);
        }
    }
    if (m_set.Follower()) {
        if (now >= m_followAt && m_timingOp == nullptr) {
            m_timingOp = pa_stream_update_timing_info(m_stream, &CPulseCapture::TimingDone, this);
            m_followAt = m_set.NextFollowReading(now);
        }
        plan->wakeAt = std::min(plan->wakeAt, m_followAt);
    }
    if (m_timingOp != nullptr) plan->lookAt = now;  // its answer is wanted as it comes
    if (m_queue.empty()) return;
    const WAVEHDR* h = m_queue.front();
    const uint64_t missing = h->dwBufferLength - std::min(h->dwBytesRecorded, h->dwBufferLength);
    plan->lookAt = std::min(plan->lookAt, m_lastData + std::chrono::microseconds(pa_bytes_to_usec(missing, &m_pcm)) +
                                              std::chrono::milliseconds(CPulseWaveApi::kCaptureSlackMs));
}

}  // namespace morvane
