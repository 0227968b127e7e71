#pragma once
// Playback on the PipeWire layer: plays the written headers strictly in
// order from the graph's data thread, and keeps every run on time.
//
// A run (what is written after the device was opened or reset) starts where
// capture says: its first frame is heard where the last captured buffer
// ended (see audio/run_line_up.h). The graph tells, in every cycle, when the
// first frame written in it will be heard; a run that would be late starts
// that far into its first buffer, one that would be early is led in with
// silence. From then on the run keeps its time line on the device's own
// sample clock: a spell with nothing to play (the program fell behind), or
// cycles the graph lost, would make everything after it late; what is due
// by then is left out, so the delay stays what it was.

#include <deque>

#include "audio/pipewire/pw_stream.h"

namespace morvane {

class CPwPlayback final : public CPwStream {
public:
    CPwPlayback(PwShared& shared, const StreamFormat& format, IWaveWindow* window)
        : CPwStream(shared, false, format, window) {}

    // All with the shared mutex held.
    void Write(WAVEHDR* h) { m_queue.push_back(h); }
    void Reset();
    void ReturnAll() override;
    bool Holds() const override { return !m_queue.empty() || !m_sent.empty(); }
    // How late the last run's start was (positive: left out), microseconds.
    int64_t LastCompensationUsec() const { return m_lastCompensationUsec; }

    // Smaller departures from a run's time line are left alone; a larger one
    // is acted on once seen in two cycles running.
    static constexpr int64_t kKeepToleranceUsec = 1000;

private:
    struct Sent {
        WAVEHDR* header;
        int64_t heardNsec;  // when its last frame is heard
    };
    void Process() override;
    void Fill(char* out, uint32_t frames, const GraphTime* t);
    void StartRun(const GraphTime* t, int64_t heardNsec, double heardTicks);
    void KeepTimeLine(const GraphTime& t, double heardTicks);

    std::deque<WAVEHDR*> m_queue;  // written, the front one partly played
    uint32_t m_frontFrames = 0;    // of the front one, played or left out
    std::deque<Sent> m_sent;       // played whole, to be heard
    bool m_runPending = true;
    double m_runStartTicks = 0;  // where the run's frame 0 is due on the device's clock
    uint64_t m_runFrames = 0;    // the run's frames played or left out
    uint64_t m_skipFrames = 0;   // still to leave out
    uint64_t m_padFrames = 0;    // of silence still to lead in with
    int m_behindCycles = 0;
    int64_t m_lastCompensationUsec = 0;
};

}  // namespace morvane
