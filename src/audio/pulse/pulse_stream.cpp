// What capture and playback streams share: handing headers back, the
// stream's state, its teardown, and reading the server's times.

#include "audio/pulse/pulse_stream.h"

#include <cstdlib>

#include "audio/pulse/pulse_context.h"
#include "audio/pulse/pulse_stream_set.h"

namespace morvane {

int64_t BytesToUsec(int64_t bytes, const pa_sample_spec* pcm) {
    const auto usec = static_cast<int64_t>(pa_bytes_to_usec(static_cast<uint64_t>(std::abs(bytes)), pcm));
    return bytes < 0 ? -usec : usec;
}

double Seconds(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

std::chrono::steady_clock::time_point TimeOf(const timeval& stamp) {
    timeval wall;
    pa_gettimeofday(&wall);
    const auto now = std::chrono::steady_clock::now();
    const int64_t ageUsec = static_cast<int64_t>(pa_timeval_diff(&wall, &stamp)) *
                            (pa_timeval_cmp(&wall, &stamp) >= 0 ? 1 : -1);
    return now - std::chrono::microseconds(ageUsec);
}

CPulseStream::CPulseStream(CPulseStreamSet& set, bool capture, pa_stream* stream, const pa_sample_spec& pcm,
                           IWaveWindow* window)
    : m_set(set), m_stream(stream), m_pcm(pcm), m_frame(pa_frame_size(&pcm)), m_capture(capture),
      m_window(window) {
    pa_stream_set_state_callback(m_stream, &CPulseStream::State, this);
}

CPulseStream::~CPulseStream() {
    CancelTiming();
    if (m_stream != nullptr) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(m_stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream))) pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
}

pa_buffer_attr CPulseStream::UnsetBufferAttr() {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    return attr;
}

void CPulseStream::Post(uint32_t msg, WAVEHDR* h) {
    if (m_window != nullptr) m_set.Post(m_window, msg, Handle(), h);
}

void CPulseStream::Complete(WAVEHDR* h) {
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Post(m_capture ? MM_WIM_DATA : MM_WOM_DONE, h);
}

void CPulseStream::CancelTiming() {
    if (m_timingOp == nullptr) return;
    pa_operation_cancel(m_timingOp);
    pa_operation_unref(m_timingOp);
    m_timingOp = nullptr;
}

// On the audio thread with the loop's lock held, as every stream callback.
void CPulseStream::State(pa_stream* s, void* userdata) {
    auto* self = static_cast<CPulseStream*>(userdata);
    self->m_set.Context().Loop()->Signal();
    const pa_stream_state_t st = pa_stream_get_state(s);
    if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED) self->Ended();
}

}  // namespace morvane
