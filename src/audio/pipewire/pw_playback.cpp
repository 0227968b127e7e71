#include "audio/pipewire/pw_playback.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "audio/output_time_line.h"
#include "audio/pipewire/pw_headers.h"

namespace morvane {

void CPwPlayback::Reset() {
    ReturnAll();
    m_runPending = true;
}

void CPwPlayback::ReturnAll() {
    std::deque<Sent> s;
    s.swap(m_sent);
    std::deque<WAVEHDR*> q;
    q.swap(m_queue);
    m_frontFrames = 0;
    m_skipFrames = 0;
    m_padFrames = 0;
    for (const Sent& x : s) Complete(x.header);
    for (WAVEHDR* h : q) Complete(h);
}

void CPwPlayback::Process() {
    pw_buffer* b = pw_stream_dequeue_buffer(m_stream);
    if (b == nullptr) return;
    spa_data& d = b->buffer->datas[0];
    if (d.data == nullptr || d.chunk == nullptr) {
        pw_stream_queue_buffer(m_stream, b);
        return;
    }
    const uint32_t room = d.maxsize / m_format.frameBytes;
    const uint32_t frames = b->requested > 0 ? static_cast<uint32_t>(std::min<uint64_t>(b->requested, room)) : room;
    GraphTime t;
    const bool timed = Time(&t);
    {
        std::lock_guard lock(m_shared.mutex);
        Fill(static_cast<char*>(d.data), frames, timed ? &t : nullptr);
    }
    d.chunk->offset = 0;
    d.chunk->stride = static_cast<int32_t>(m_format.frameBytes);
    d.chunk->size = frames * m_format.frameBytes;
    pw_stream_queue_buffer(m_stream, b);
}

void CPwPlayback::StartRun(const GraphTime* t, int64_t heardNsec, double heardTicks) {
    const int64_t late =
        t != nullptr ? RunLatenessUsec(heardNsec / 1000, m_shared.lastCapture, /*mayLead=*/true) : 0;
    const auto frames = static_cast<uint64_t>(std::llround(std::abs(static_cast<double>(late)) * m_format.rate / 1e6));
    m_skipFrames = late > 0 ? frames : 0;
    m_padFrames = late < 0 ? frames : 0;
    m_lastCompensationUsec = late;
    m_runPending = false;
    m_runFrames = 0;
    m_behindCycles = 0;
    // Frame 0 is due `late` before the first frame of this cycle is heard.
    m_runStartTicks = t != nullptr ? heardTicks - static_cast<double>(late) * 1e3 * t->rateDenom / (1e9 * t->rateNum) : 0;
}

void CPwPlayback::KeepTimeLine(const GraphTime& t, double heardTicks) {
    // Which of the run's frames is due now, against the next one to play.
    const double due = TicksToFrames(heardTicks - m_runStartTicks, t, m_format.rate);
    const double next = static_cast<double>(m_runFrames + m_skipFrames) - static_cast<double>(m_padFrames);
    const double behind = due - next;
    const double tolerance = static_cast<double>(kKeepToleranceUsec) * m_format.rate / 1e6;
    if (behind <= tolerance) {
        m_behindCycles = 0;
        return;
    }
    if (++m_behindCycles < 2) return;
    m_behindCycles = 0;
    auto frames = static_cast<uint64_t>(std::llround(behind));
    const uint64_t unpad = std::min(frames, m_padFrames);
    m_padFrames -= unpad;
    m_skipFrames += frames - unpad;
    if (!m_shared.toldGap) {
        m_shared.toldGap = true;
        std::fputs(kOutputGapReport, stderr);
    }
}

void CPwPlayback::Fill(char* out, uint32_t frames, const GraphTime* t) {
    const uint32_t fb = m_format.frameBytes;
    const int64_t now = t != nullptr ? t->nowNsec : MonotonicNsec();
    // What has been heard goes back, in order.
    while (!m_sent.empty() && m_sent.front().heardNsec <= now) {
        WAVEHDR* h = m_sent.front().header;
        m_sent.pop_front();
        Complete(h);
    }
    const int64_t heard = t != nullptr ? PlaybackHeardNsec(*t, m_format) : now;
    const double heardTicks = t != nullptr ? PlaybackHeardTicks(*t, m_format) : 0;
    if (!m_queue.empty() && !Failed()) {
        if (m_runPending)
            StartRun(t, heard, heardTicks);
        else if (t != nullptr)
            KeepTimeLine(*t, heardTicks);
    }
    const uint8_t silence = m_silence;
    uint32_t done = 0;
    while (done < frames && !Failed()) {
        if (m_queue.empty()) break;
        if (m_padFrames > 0) {
            const auto k = static_cast<uint32_t>(std::min<uint64_t>(m_padFrames, frames - done));
            std::memset(out + static_cast<size_t>(done) * fb, silence, static_cast<size_t>(k) * fb);
            m_padFrames -= k;
            done += k;
            continue;
        }
        WAVEHDR* h = m_queue.front();
        const uint32_t usable = h->dwBufferLength / fb;
        uint32_t left = usable - std::min(usable, m_frontFrames);
        if (m_skipFrames > 0 && left > 0) {
            const auto k = static_cast<uint32_t>(std::min<uint64_t>(m_skipFrames, left));
            m_frontFrames += k;
            m_skipFrames -= k;
            m_runFrames += k;
            left -= k;
        }
        if (left > 0) {
            const uint32_t k = std::min(left, frames - done);
            std::memcpy(out + static_cast<size_t>(done) * fb, h->lpData + static_cast<size_t>(m_frontFrames) * fb,
                        static_cast<size_t>(k) * fb);
            m_frontFrames += k;
            m_runFrames += k;
            done += k;
            left -= k;
        }
        if (left == 0) {
            m_queue.pop_front();
            m_frontFrames = 0;
            m_sent.push_back({h, heard + FramesToNsec(done, m_format.rate)});
        }
    }
    // Nothing more to play: silence, and the run's time line goes on.
    if (done < frames)
        std::memset(out + static_cast<size_t>(done) * fb, silence, static_cast<size_t>(frames - done) * fb);
}

}  // namespace morvane
