// A playback stream's timing readings: placing sent headers in time, lining
// a run's start up, following capture's clock, and planning the audio
// thread's next look.

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/pulse/pulse_context.h"
#include "audio/pulse/pulse_playback.h"
#include "audio/pulse/pulse_stream_set.h"
#include "audio/pulse/pulse_wave_api.h"

namespace morvane {
namespace {

// A timing reading that failed, or found the stream not playing, is asked
// for again after this long.
constexpr auto kTimingRetry = std::chrono::milliseconds(20);
// Played buffers are placed in time from one reading while the stream plays
// on; one this old is taken again (clocks drift, runs stall).
constexpr auto kReadingLifetime = std::chrono::seconds(2);
// A run's start error smaller than this is left alone.
constexpr int64_t kProbeToleranceUsec = 500;
// A run is lined up from a reading once the server has read its start; for
// at most this long. A server that updates its positions once per processing
// cycle but stamps a reading with the time it answers (PipeWire's) places
// every byte late by up to a cycle; a reading taken just after a cycle is
// right, and none is early, so there the earliest placement of several
// readings kLineUpSpacing apart wins. Elsewhere readings are exact but for
// noise, which the earliest of several would pick out under load.
constexpr int kLineUpReadingsCycleStamped = 4;
// Until then the rest of the run waits: no longer than the server would hold.
constexpr auto kLineUpTimeout = std::chrono::milliseconds(250);

}  // namespace

void CPulsePlayback::RequestTiming() {
    if (m_timingOp == nullptr) m_timingOp = pa_stream_update_timing_info(m_stream, &CPulsePlayback::Timing, this);
}

// Places sent headers in time from the last reading: those the server had
// read then exactly, the rest as if it plays on without a gap. all: place
// every one again, else only those not yet placed.
void CPulsePlayback::Place(bool all) {
    for (Sent& x : m_sent) {
        if (x.heardAt && !all) continue;
        x.heardAt.reset();
        if (m_reading && (m_reading->playing || static_cast<int64_t>(x.end) <= m_reading->readPos))
            x.heardAt = m_reading->HeardAt(x.end, &m_pcm);
    }
}

void CPulsePlayback::Timing(pa_stream* s, int success, void* userdata) {
    auto* self = static_cast<CPulsePlayback*>(userdata);
    if (self->m_timingOp != nullptr) {
        pa_operation_unref(self->m_timingOp);
        self->m_timingOp = nullptr;
    }
    const Clock::time_point now = Clock::now();
    const pa_timing_info* ti = success ? pa_stream_get_timing_info(s) : nullptr;
    if (ti == nullptr || ti->read_index_corrupt || ti->write_index_corrupt) {
        self->m_retryAt = now + (self->m_lineUp ? kLineUpSpacing : kTimingRetry);
        if (self->m_lineUp && now >= self->m_lineUp->until) self->FinishLineUp();
        return;
    }
    // The server's write index stands for our write position now; what it
    // had read when it took the reading is that far behind it. Data read
    // is heard one sink latency later. The reading's own time stamp, not
    // the time its answer reached us, is what the positions belong to.
    const int64_t behind = ti->write_index - ti->read_index;
    self->m_reading = Reading{TimeOf(ti->timestamp),
                              static_cast<int64_t>(self->m_written) - std::max<int64_t>(behind, 0),
                              static_cast<int64_t>(ti->sink_usec), ti->playing != 0};
    if (self->m_lineUp) self->TakeLineUpReading(now);
    if (!self->m_lineUp && !self->m_probing && ti->playing) self->FollowClocks(now);
    self->Place(true);
    // Not playing yet: what it has not read cannot be placed; look again soon.
    if (!self->m_lineUp && !self->m_sent.empty() && !self->m_sent.front().heardAt)
        self->m_retryAt = now + kTimingRetry;
}

// A run's reading: the playback rate follows capture's clock.
void CPulsePlayback::FollowClocks(Clock::time_point now) {
    if (!m_variableRate || !m_set.Follower()) return;
    CClockFollower& clock = *m_set.Follower();
    clock.AddPlayback(Seconds(m_reading->at), static_cast<double>(m_reading->sinkUsec) / 1e6,
                      static_cast<double>(m_reading->readPos) / static_cast<double>(m_frame));
    const double factor = clock.Update(Seconds(now));
    const auto rate = static_cast<uint32_t>(std::lround(factor * m_pcm.rate));
    if (rate == m_appliedRate) return;
    if (pa_operation* op = pa_stream_update_sample_rate(m_stream, rate, nullptr, nullptr)) pa_operation_unref(op);
    m_appliedRate = rate;
    m_set.ReportClocks(clock.Skew());
}

// Starts lining the run up from the bytes written from `from` on.
void CPulsePlayback::BeginLineUp(uint64_t from) {
    m_lineUp = LineUp{from, Clock::now() + kLineUpTimeout, std::nullopt, 0};
    m_retryAt = Clock::time_point{};
    CancelTiming();  // its answer would predate what is to be measured
    RequestTiming();
}

// A reading while lining up: once the server has read what was written since
// the line-up began, when the run's first byte is heard by it, against when
// it should be (a sink that takes new data at once and one that plays out
// what it holds first differ by its whole latency).
void CPulsePlayback::TakeLineUpReading(Clock::time_point now) {
    LineUp& l = *m_lineUp;
    if (m_reading->readPos > static_cast<int64_t>(l.from)) {
        const Clock::time_point due = m_runTarget + std::chrono::microseconds(m_runShiftUsec);
        const int64_t late =
            std::chrono::duration_cast<std::chrono::microseconds>(m_reading->HeardAt(m_runStart, &m_pcm) - due)
                .count();
        l.lateUsec = l.lateUsec ? std::min(*l.lateUsec, late) : late;
        ++l.readings;
    }
    const int wanted = m_set.Context().CycleStamped() ? kLineUpReadingsCycleStamped : 1;
    if (l.readings < wanted && now < l.until) {
        m_retryAt = now + kLineUpSpacing;
        return;
    }
    FinishLineUp();
}

void CPulsePlayback::FinishLineUp() {
    const LineUp l = *m_lineUp;
    m_lineUp.reset();
    if (l.lateUsec && std::abs(*l.lateUsec) >= kProbeToleranceUsec) {
        const int64_t late = *l.lateUsec;
        const uint64_t bytes = pa_usec_to_bytes(static_cast<pa_usec_t>(std::abs(late)), &m_pcm);
        (late > 0 ? m_skipBytes : m_padBytes) += bytes;
        m_runShiftUsec += late;
        m_lastCompensationUsec += late;
    }
    if (m_probing) {
        m_probing = false;
        Feed();
    }
}

// Before the audio thread sleeps: hand back what has been heard, keep a
// reading at hand, and say when to look again.
void CPulsePlayback::Plan(Clock::time_point now, CPulseLoop::Plan* plan) {
    FinishHeard(now);
    // The server's requests for more may wait for the next capture wake-up:
    // keep it a target's length ahead at every wake-up instead.
    if (!m_probing && !m_queue.empty() && m_reading && m_reading->playing) {
        const auto ahead =
            std::chrono::duration_cast<std::chrono::microseconds>(m_reading->HeardAt(m_written, &m_pcm) - now);
        const auto target = std::chrono::milliseconds(CPulseWaveApi::kPlaybackTargetMs);
        if (ahead < target) Feed(pa_usec_to_bytes(static_cast<pa_usec_t>((target - ahead).count()), &m_pcm));
    }
    const bool following = m_variableRate && m_set.Follower();
    if (m_lineUp) {
        if (m_timingOp == nullptr) {
            if (now >= m_retryAt)
                RequestTiming();
            else
                plan->wakeAt = std::min(plan->wakeAt, m_retryAt);
        }
    } else if (!m_sent.empty()) {
        const Sent& front = m_sent.front();
        const bool stale = !m_reading || now - m_reading->at > kReadingLifetime;
        const bool follow = following && now >= m_followAt;
        if (m_timingOp == nullptr && now >= m_retryAt && (stale || follow || !front.heardAt)) {
            RequestTiming();
            if (follow) m_followAt = m_set.NextFollowReading(now);
        }
        if (following) plan->wakeAt = std::min(plan->wakeAt, m_followAt);
        if (front.heardAt)
            plan->wakeAt =
                std::min(plan->wakeAt, *front.heardAt + std::chrono::milliseconds(CPulseWaveApi::kPlayedSlackMs));
        else if (m_timingOp == nullptr)
            plan->wakeAt = std::min(plan->wakeAt, m_retryAt);
    }
    // A reading's answer is wanted as soon as it comes.
    if (m_timingOp != nullptr) plan->lookAt = now;
}

}  // namespace morvane
