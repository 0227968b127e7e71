#pragma once
// Capture on the PipeWire layer: fills the queued headers strictly in queue
// order from the graph's data thread, and marks where each filled buffer
// ended in time, from the graph's own timing, for playback to line up
// against.

#include <deque>
#include <optional>

#include "audio/pipewire/pw_stream.h"

namespace morvane {

class CPwCapture final : public CPwStream {
public:
    CPwCapture(PwShared& shared, const StreamFormat& format, IWaveWindow* window)
        : CPwStream(shared, true, format, window) {}

    // All with the shared mutex held.
    bool monitor = false;  // of a sink: its data is what the sink plays

    void Queue(WAVEHDR* h);
    void Start() {
        if (!m_started) m_lastEnd.reset();
        m_started = true;
    }
    // Stops; the buffer being filled comes back with what it holds.
    void Stop();
    // Stops and hands every queued header back, in order.
    void Reset();
    void ReturnAll() override;
    bool Holds() const override { return !m_queue.empty(); }

private:
    void Process() override;
    // data: null for silence.
    void Consume(const char* data, size_t bytes, int64_t startNsec, int64_t nowNsec);
    // Sound the graph dropped while this process could not take it (the
    // system held it up) comes back as silence of the same length, so that
    // what follows keeps its place in time and the delay stays.
    void FillGap(int64_t startNsec, int64_t nowNsec);
    static constexpr int64_t kGapToleranceNsec = 2000000;
    static constexpr int64_t kMaxGapNsec = 5000000000;

    std::deque<WAVEHDR*> m_queue;
    bool m_started = false;
    uint64_t m_framesTaken = 0;  // of the data handed over in this cycle so far
    std::optional<int64_t> m_lastEnd;  // where the last data handed over ended
};

}  // namespace morvane
