#include "audio/pipewire/pw_capture.h"

#include <algorithm>
#include <cstring>

#include "audio/pipewire/pw_headers.h"

namespace morvane {

void CPwCapture::Queue(WAVEHDR* h) {
    h->dwBytesRecorded = 0;
    m_queue.push_back(h);
}

void CPwCapture::Stop() {
    m_started = false;
    if (!m_queue.empty() && m_queue.front()->dwBytesRecorded > 0) {
        WAVEHDR* h = m_queue.front();
        m_queue.pop_front();
        Complete(h);
    }
}

void CPwCapture::Reset() {
    m_started = false;
    m_lastEnd.reset();
    ReturnAll();
}

void CPwCapture::ReturnAll() {
    std::deque<WAVEHDR*> q;
    q.swap(m_queue);
    for (WAVEHDR* h : q) Complete(h);
}

void CPwCapture::Process() {
    // Everything the graph has for us, oldest first: the end of the last is
    // where the graph's timing places capture now.
    pw_buffer* buffers[16];
    size_t count = 0;
    while (count < std::size(buffers))
        if ((buffers[count] = pw_stream_dequeue_buffer(m_stream)) != nullptr)
            ++count;
        else
            break;
    if (count == 0) return;
    GraphTime t;
    const bool timed = Time(&t);
    uint64_t frames = 0;
    for (size_t i = 0; i < count; ++i) {
        const spa_data& d = buffers[i]->buffer->datas[0];
        if (d.data != nullptr && d.chunk != nullptr) frames += std::min(d.chunk->size, d.maxsize) / m_format.frameBytes;
    }
    const int64_t now = MonotonicNsec();
    // Untimed (the graph's first cycle): placed as if it had just been captured.
    const int64_t end = timed ? CaptureEndNsec(t, m_format, frames, monitor) : now;
    const int64_t start = end - FramesToNsec(static_cast<double>(frames), m_format.rate);
    {
        std::lock_guard lock(m_shared.mutex);
        if (m_started && !Failed() && m_lastEnd && start - *m_lastEnd > kGapToleranceNsec) FillGap(start, now);
        m_lastEnd = end;
        m_framesTaken = 0;
        for (size_t i = 0; i < count; ++i) {
            const spa_data& d = buffers[i]->buffer->datas[0];
            if (d.data == nullptr || d.chunk == nullptr) continue;
            const uint32_t offset = d.chunk->offset % std::max<uint32_t>(d.maxsize, 1);
            const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
            if (m_started && !Failed()) Consume(static_cast<const char*>(d.data) + offset, size, start, now);
            m_framesTaken += size / m_format.frameBytes;
        }
    }
    for (size_t i = 0; i < count; ++i) pw_stream_queue_buffer(m_stream, buffers[i]);
}

void CPwCapture::FillGap(int64_t startNsec, int64_t nowNsec) {
    const int64_t gap = std::min(startNsec - *m_lastEnd, kMaxGapNsec);
    auto bytes = static_cast<size_t>(static_cast<double>(gap) * m_format.rate / 1e9) * m_format.frameBytes;
    // Placed as if captured just before this cycle's data.
    const int64_t gapStart = startNsec - FramesToNsec(static_cast<double>(bytes / m_format.frameBytes), m_format.rate);
    m_framesTaken = 0;
    Consume(nullptr, bytes, gapStart, nowNsec);
}

void CPwCapture::Consume(const char* data, size_t bytes, int64_t startNsec, int64_t nowNsec) {
    size_t offset = 0;
    while (!m_queue.empty() && offset < bytes) {
        WAVEHDR* h = m_queue.front();
        const size_t k = std::min<size_t>(h->dwBufferLength - h->dwBytesRecorded, bytes - offset);
        if (data != nullptr)
            std::memcpy(h->lpData + h->dwBytesRecorded, data + offset, k);
        else
            std::memset(h->lpData + h->dwBytesRecorded, m_silence, k);
        h->dwBytesRecorded += static_cast<uint32_t>(k);
        offset += k;
        if (h->dwBytesRecorded < h->dwBufferLength) break;
        const double endFrame = static_cast<double>(m_framesTaken) + static_cast<double>(offset) / m_format.frameBytes;
        const int64_t endNsec = startNsec + FramesToNsec(endFrame, m_format.rate);
        m_shared.lastCapture = CaptureMark{endNsec / 1000, nowNsec / 1000};
        const int64_t ageUsec = (nowNsec - endNsec) / 1000;
        m_shared.lateCapture.Note(ageUsec);
        m_queue.pop_front();
        Complete(h);
    }
    // Whatever arrives with no header queued is lost, as on the platform.
}

}  // namespace morvane
