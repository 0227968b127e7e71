// The open streams and what they share.

#include "audio/pulse/pulse_stream_set.h"

#include <cstdio>

#include "audio/output_time_line.h"
#include "audio/pulse/pulse_capture.h"
#include "audio/pulse/pulse_playback.h"
#include "audio/pulse/pulse_stream.h"
#include "audio/pulse/pulse_wave_api.h"
#include "audio/run_line_up.h"

namespace morvane {
namespace {

// While playback follows capture's clock, both streams are read this far
// apart, at random within the range: a device moves its data in blocks, and
// readings taken in step with the other device's blocks would each land at
// the same point of a block for minutes, wherever that is.
constexpr int kFollowReadingMinMs = 20;
constexpr int kFollowReadingMaxMs = 60;

int64_t Usec(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

}  // namespace

CPulseStreamSet::CPulseStreamSet(CPulseContext& context) : m_context(context) {}

CPulseStreamSet::~CPulseStreamSet() = default;

void CPulseStreamSet::Add(std::unique_ptr<CPulseStream> stream) {
    const CPulseStream* key = stream.get();
    m_streams.emplace(key, std::move(stream));
}

void CPulseStreamSet::Destroy(CPulseStream* stream) {
    const auto it = m_streams.find(stream);
    if (it == m_streams.end()) return;
    // Out of the set before it goes: nothing finds it half destroyed.
    std::unique_ptr<CPulseStream> owned = std::move(it->second);
    m_streams.erase(it);
}

void CPulseStreamSet::DestroyAll() {
    while (!m_streams.empty()) Destroy(const_cast<CPulseStream*>(m_streams.begin()->first));
}

CPulseStream* CPulseStreamSet::Find(const void* handle, bool capture) const {
    const auto it = m_streams.find(static_cast<const CPulseStream*>(handle));
    if (handle == nullptr || it == m_streams.end() || it->second->IsCapture() != capture) return nullptr;
    return it->second.get();
}

void CPulseStreamSet::CapturesOn(const std::string& clock, bool* open, bool* sameClock) const {
    *open = false;
    *sameClock = false;
    for (const auto& [key, stream] : m_streams) {
        if (!stream->IsCapture()) continue;
        *open = true;
        const std::string& other = static_cast<const CPulseCapture&>(*stream).DeviceClock();
        *sameClock = *sameClock || (!other.empty() && other == clock);
    }
}

CPulseLoop::Plan CPulseStreamSet::Plan(void* self) {
    auto* set = static_cast<CPulseStreamSet*>(self);
    const Clock::time_point now = Clock::now();
    CPulseLoop::Plan plan;
    if (!set->m_streams.empty()) {
        // Open devices are looked at this often at least, as the server's
        // requests for more playback data wait meanwhile.
        plan.lookAt = now + std::chrono::milliseconds(CPulseWaveApi::kLookIntervalMs);
        for (const auto& [key, stream] : set->m_streams)
            if (stream->Ready()) stream->Plan(now, &plan);
    }
    // Posting only queues for the receiver; nothing here calls back in.
    for (const PendingPost& p : set->m_posts) p.window->PostWaveMessage(p.msg, p.handle, p.header);
    set->m_posts.clear();
    return plan;
}

void CPulseStreamSet::Post(IWaveWindow* window, uint32_t msg, uintptr_t handle, WAVEHDR* header) {
    CPulseLoop* loop = m_context.Loop();
    if (loop != nullptr && loop->InThread())
        m_posts.push_back({window, msg, handle, header});
    else
        window->PostWaveMessage(msg, handle, header);
}

void CPulseStreamSet::FinishAllHeard(Clock::time_point now) {
    for (const auto& [key, stream] : m_streams)
        if (!stream->IsCapture()) static_cast<CPulsePlayback&>(*stream).FinishHeard(now);
}

void CPulseStreamSet::NoteCaptureEnd(Clock::time_point end, Clock::time_point returned) {
    m_lastCaptureEnd = end;
    m_lastCaptureReturned = returned;
}

int64_t CPulseStreamSet::CompensationUsec() const {
    if (m_runningCaptures == 0) return 0;
    std::optional<CaptureMark> mark;
    if (m_lastCaptureEnd) mark = CaptureMark{Usec(*m_lastCaptureEnd), Usec(m_lastCaptureReturned)};
    // A monitor's data can come before it is heard: such a run is led in.
    return RunLatenessUsec(Usec(Clock::now()), mark, true);
}

CPulseStreamSet::Clock::time_point CPulseStreamSet::NextFollowReading(Clock::time_point now) {
    std::uniform_int_distribution<int> ms(kFollowReadingMinMs, kFollowReadingMaxMs);
    return now + std::chrono::milliseconds(ms(m_followRandom));
}

// Told once per program run each: a user must not be left with a delay that
// is silently wrong.
void CPulseStreamSet::ReportGap() {
    if (m_toldGap) return;
    m_toldGap = true;
    std::fputs(kOutputGapReport, stderr);
}

void CPulseStreamSet::ReportClocks(double skew) {
    if (m_toldClocks) return;
    m_toldClocks = true;
    std::fprintf(stderr,
                 "Morvane: the input and output run on clocks %.0f ppm apart; playback follows "
                 "the input's to keep the delay.\n",
                 skew * 1e6);
}

void CPulseStreamSet::CheckCaptureAge() {
    if (!m_lastCaptureEnd) return;
    const int64_t ageUsec =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - *m_lastCaptureEnd).count();
    m_lateCapture.Note(ageUsec);
}

}  // namespace morvane
