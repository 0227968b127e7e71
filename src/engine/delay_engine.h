#pragma once
// The delay line's control logic: capture in 100 ms buffers, hold back as many
// buffers as the delay has tenths of a second, then hand every captured buffer
// to playback. Every step reacts to a message on the UI thread.

#include <bitset>
#include <cstdint>
#include <deque>
#include <functional>

#include "audio/voice_base.h"
#include "audio/voice_playing.h"
#include "audio/voice_recording.h"
#include "engine/engine_controls.h"
#include "engine/splice_line.h"

namespace morvane {

// Scroll codes the slider handler acts on.
inline constexpr uint32_t kTbThumbTrack = 5;
inline constexpr uint32_t kTbEndTrack = 8;

class CDelayEngine {
public:
    CDelayEngine(CVoiceRecording& recorder, CVoicePlaying& player, IEngineControls& controls,
                 IWaveWindow* window);
    CDelayEngine(const CDelayEngine&) = delete;
    CDelayEngine& operator=(const CDelayEngine&) = delete;

    // Run once, on the first Play of the process.
    void SetTunerGraphBuilder(std::function<void()> build) { m_buildTunerGraph = std::move(build); }

    // The window's initialisation: buffer seconds 0.1, delay count 30, idle.
    void Preset();
    // Nudge mode: while playing, a delay change splices the running line at
    // once instead of draining and refilling it. Off by default.
    void SetSmooth(bool on) { m_smooth = on; }
    bool IsSmooth() const { return m_smooth; }

    void Play();
    void Stop();
    void OnInputSelChange();
    void OnOutputSelChange();
    void OnDelayUpdate();                // the delay box update rule
    void OnHScroll(uint32_t wParam);     // the slider
    void OnWimData(WAVEHDR* header);     // a capture buffer came back
    void OnWomDone(WAVEHDR* header);     // a playback buffer came back
    void Restart(uint32_t delayCount);

    int InputDevice() const { return m_inputDevice; }
    int OutputDevice() const { return m_outputDevice; }
    void SetInputDevice(int index) { m_inputDevice = index; }
    void SetOutputDevice(int index) { m_outputDevice = index; }
    uint32_t DelayCount() const { return m_delayCount; }
    uint32_t RestartCountdown() const { return m_restartCountdown; }
    uint32_t ReceivedCount() const { return m_receivedCount; }
    float BufferSeconds() const { return m_bufferSeconds; }
    bool IsDraining() const { return m_draining; }
    bool IsPlaying() const { return m_playing; }
    bool GraphBuilt() const { return m_bGraphBuilt; }
    // Capture buffers queued on the recorder and not yet come back.
    uint32_t OutstandingCaptures() const { return static_cast<uint32_t>(m_queued.count()); }

private:
    void QueueCaptureSet();
    void Requeue(uint32_t index);
    bool TakeBack(const WAVEHDR* header, uint32_t* index);
    void SetInputMeters(int left, int right);
    void SetOutputMeters(int left, int right);
    void WritePlayback(uint32_t index);
    void ResetDevices();
    void Accept(uint32_t index, const WAVEHDR& header);
    void AcceptWaiting();
    // The nudge mode's own path (see CSpliceLine).
    void SpliceChange(uint32_t delayCount);
    void SpliceAccept(uint32_t index, const WAVEHDR& header);
    void WriteSplicedBlocks();
    void ShowSpliceFill();

    CVoiceRecording& m_recorder;
    CVoicePlaying& m_player;
    IEngineControls& m_controls;
    IWaveWindow* m_window;
    std::function<void()> m_buildTunerGraph;

    int m_inputDevice = 0;
    int m_outputDevice = 0;
    uint32_t m_delayCount = 30;
    uint32_t m_restartCountdown = 0;
    uint32_t m_receivedCount = 0;
    float m_bufferSeconds = 0.1f;
    bool m_draining = false;
    bool m_playing = false;
    bool m_bGraphBuilt = false;
    bool m_smooth = false;
    CSpliceLine m_line;
    uint32_t m_nextBlock = 0;   // the playback block the next spliced slot goes to
    int m_shownFill = -1;       // the fill band's end as last set in nudge mode
    // Which capture buffers are on the recorder's queue. A restart completes
    // when the last of them is back, whatever order the returned buffers and
    // user input reach us in.
    std::bitset<kBufferCount> m_queued;
    // Playback buffers written and not yet back, and those a reset is
    // handing back: returned buffers show as silence on the meters, in
    // whatever order they reach us.
    std::bitset<kBufferCount> m_written;
    std::bitset<kBufferCount> m_returning;
    // Capture buffers back before the output has let go of their playback
    // block (capture came in a burst, or the output fell behind), in order:
    // each is taken when its block is done, so that nothing is overwritten
    // before it was heard.
    std::deque<uint32_t> m_waiting;
};

}  // namespace morvane
