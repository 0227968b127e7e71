#include "engine/delay_engine.h"

#include <algorithm>

#include "engine/delay_text.h"
#include "engine/level_meters.h"
#include "resource.h"

namespace morvane {
namespace {
constexpr size_t kDelayTextChars = 15;

uint32_t ClampCount(int64_t count) {
    return static_cast<uint32_t>(std::clamp<int64_t>(count, kMinDelayCount, kMaxDelayCount));
}
}  // namespace

CDelayEngine::CDelayEngine(CVoiceRecording& recorder, CVoicePlaying& player,
                           IEngineControls& controls, IWaveWindow* window)
    : m_recorder(recorder), m_player(player), m_controls(controls), m_window(window) {}

void CDelayEngine::Preset() {
    m_bufferSeconds = 0.1f;
    m_delayCount = 30;
    m_restartCountdown = 0;
    m_bGraphBuilt = false;
    m_draining = false;
}

void CDelayEngine::Play() {
    if (m_playing) return;
    if (!m_bGraphBuilt) {
        if (m_buildTunerGraph) m_buildTunerGraph();
        m_bGraphBuilt = true;
    }
    m_draining = false;
    m_playing = true;
    m_receivedCount = 0;
    m_restartCountdown = 0;

    m_recorder.Close();
    m_player.Close();
    // Closed devices hold nothing; anything still in flight from the old
    // ones is recognised as stale when it arrives.
    m_queued.reset();
    m_written.reset();
    m_returning.reset();
    m_waiting.clear();
    if (m_smooth) {
        m_line.Start(m_player.Format(), m_player.BufferLength(m_bufferSeconds), kBufferCount);
        m_line.SetDelay(m_delayCount);
        m_nextBlock = 0;
        m_shownFill = -1;
    }
    m_recorder.Open(m_window, static_cast<uint32_t>(m_inputDevice));
    m_player.Open(m_window, static_cast<uint32_t>(m_outputDevice));

    for (uint32_t i = 0; i < kBufferCount; ++i) {
        m_recorder.UnprepareBuffer(i);
        m_recorder.PrepareBuffer(i, m_bufferSeconds);
        m_player.UnprepareBuffer(i);
        m_player.PrepareBuffer(i, m_bufferSeconds);
    }
    QueueCaptureSet();
}

void CDelayEngine::Stop() {
    if (!m_playing) return;
    m_playing = false;
    m_restartCountdown = UINT32_MAX;
    m_draining = true;
    m_line.Stop();
    ResetDevices();
}

void CDelayEngine::OnInputSelChange() { m_inputDevice = m_controls.ComboGetCurSel(IDC_INPUT_DEVICE); }

void CDelayEngine::OnOutputSelChange() {
    m_outputDevice = m_controls.ComboGetCurSel(IDC_OUTPUT_DEVICE);
}

void CDelayEngine::OnDelayUpdate() {
    const std::string text = m_controls.GetText(IDC_DELAY_EDIT, kDelayTextChars);
    const uint32_t count = DelayCountFromText(text);
    const std::string canonical = FormatDelayCount(count);
    if (canonical == text) return;

    int selStart = 0;
    int selEnd = 0;
    m_controls.EditGetSel(IDC_DELAY_EDIT, &selStart, &selEnd);
    m_controls.TrackbarSetPos(IDC_DELAY_SLIDER, static_cast<int>(count), true);
    // Re-enters this rule, which finds the text canonical and stops.
    m_controls.SetText(IDC_DELAY_EDIT, canonical);
    Restart(count);
    m_controls.EditSetSel(IDC_DELAY_EDIT, selStart, selEnd);
    m_controls.EditScrollCaret(IDC_DELAY_EDIT);
}

void CDelayEngine::OnHScroll(uint32_t wParam) {
    const uint32_t code = wParam & 0xFFFFu;
    if (code != kTbThumbTrack && code != kTbEndTrack) return;
    const uint32_t count = ClampCount(m_controls.TrackbarGetPos(IDC_DELAY_SLIDER));
    m_controls.SetText(IDC_DELAY_EDIT, FormatDelayCount(count));
    Restart(count);
}

void CDelayEngine::Restart(uint32_t delayCount) {
    if (m_smooth && m_playing) {
        SpliceChange(delayCount);
        return;
    }
    m_restartCountdown = m_delayCount;
    m_delayCount = ClampCount(delayCount);
    m_draining = true;
    ResetDevices();
}

void CDelayEngine::ResetDevices() {
    // Waiting captures go back on the queue first, so that the reset hands
    // them back too and a drain always has a buffer to end on.
    for (const uint32_t i : m_waiting) Requeue(i);
    m_waiting.clear();
    m_returning |= m_written;
    m_written.reset();
    m_recorder.Reset();
    m_player.Reset();
}

void CDelayEngine::OnWimData(WAVEHDR* header) {
    uint32_t i = 0;
    if (!TakeBack(header, &i)) return;

    if (m_draining) {
        // The last outstanding buffer of a restart queues the new set.
        if (m_playing && m_queued.none()) {
            m_receivedCount = 0;
            m_draining = false;
            m_restartCountdown = 0;
            QueueCaptureSet();
        }
        --m_restartCountdown;
        SetInputMeters(0, 0);
        return;
    }

    if (m_smooth) {
        SpliceAccept(i, *header);
        return;
    }
    // The output has not yet let go of this index's playback block, which
    // would be overwritten before it was heard (capture came in a burst, or
    // the output fell behind), or an earlier capture already waits for its
    // own: wait in line for it.
    if (!m_waiting.empty() || m_written.test(i)) {
        m_waiting.push_back(i);
        return;
    }
    Accept(i, *header);
}

// A captured buffer becomes the next one to be heard.
void CDelayEngine::Accept(uint32_t i, const WAVEHDR& header) {
    const char* captured = m_recorder.Block(i);
    char* played = m_player.Block(i);
    // Scanned before it is queued again: a queued block is the device's. When
    // the copy and the scan cover the same bytes, as they do with one format
    // on both sides, they are one pass over the buffer.
    ChannelPeaks peaks;
    if (played != nullptr && captured == header.lpData &&
        m_player.BufferLength(m_bufferSeconds) == header.dwBufferLength) {
        peaks = CopyScanningPeaks(played, captured, header.dwBufferLength);
    } else {
        // A block that could not be allocated is never copied into.
        if (played != nullptr) m_player.CopyBuffer(i, captured, m_bufferSeconds);
        peaks = ScanPeaks(header);
    }
    Requeue(i);

    if (m_receivedCount == m_delayCount - 1) {
        for (uint32_t k = 0; k < m_delayCount; ++k) WritePlayback(k);
    } else if (m_receivedCount > m_delayCount - 1) {
        WritePlayback(i);
        m_receivedCount = m_delayCount;
    }
    SetInputMeters(peaks.left, peaks.right);
    if (m_receivedCount < m_delayCount)
        m_controls.TrackbarSetSel(IDC_DELAY_SLIDER, 0, static_cast<int>(m_receivedCount & 0xFFFFu),
                                  true);
    ++m_receivedCount;
}

void CDelayEngine::OnWomDone(WAVEHDR* header) {
    // Only a header of ours that we wrote is looked at; one that crossed a
    // close and reopen is stale.
    if (header == nullptr || header->dwUser >= kBufferCount) return;
    const auto i = static_cast<uint32_t>(header->dwUser);
    if (header != &m_player.Header(i) || !(m_written.test(i) || m_returning.test(i))) return;
    const bool returned = m_returning.test(i);
    m_written.reset(i);
    m_returning.reset(i);
    if (m_draining || returned || m_player.Block(i) == nullptr) {
        SetOutputMeters(0, 0);
        return;
    }
    const ChannelPeaks peaks = ScanPeaks(*header);
    SetOutputMeters(peaks.left, peaks.right);
    if (m_smooth)
        WriteSplicedBlocks();
    else
        AcceptWaiting();
}

void CDelayEngine::AcceptWaiting() {
    while (!m_waiting.empty() && !m_written.test(m_waiting.front())) {
        const uint32_t i = m_waiting.front();
        m_waiting.pop_front();
        Accept(i, m_recorder.Header(i));
    }
}

// ---- nudge mode ----

void CDelayEngine::SpliceChange(uint32_t delayCount) {
    m_delayCount = ClampCount(delayCount);
    m_line.SetDelay(m_delayCount);
    WriteSplicedBlocks();
    ShowSpliceFill();
}

// The captured buffer goes into the line's ring and straight back to the
// recorder; the output is fed from the ring, never from this index's block.
void CDelayEngine::SpliceAccept(uint32_t i, const WAVEHDR& header) {
    const ChannelPeaks peaks = ScanPeaks(header);
    m_line.Capture(m_recorder.Block(i));
    Requeue(i);
    WriteSplicedBlocks();
    SetInputMeters(peaks.left, peaks.right);
    ShowSpliceFill();
    m_receivedCount = m_line.Running() ? m_delayCount + 1 : static_cast<uint32_t>(m_line.Captured());
}

void CDelayEngine::WriteSplicedBlocks() {
    while (m_line.BlockDue()) {
        const uint32_t b = m_nextBlock;
        // The output still holds this block (it fell far behind): go on
        // when it lets go.
        if (m_written.test(b) || m_returning.test(b)) return;
        char* block = m_player.Block(b);
        m_line.Compose(block);
        m_nextBlock = (b + 1) % kBufferCount;
        if (block != nullptr) WritePlayback(b);
    }
}

// The band shows the fill until the output begins, then stays full: a
// splice never empties the line.
void CDelayEngine::ShowSpliceFill() {
    const int64_t end = m_line.Running() ? static_cast<int64_t>(m_delayCount) - 1
                                         : static_cast<int64_t>(m_line.Captured()) - 1;
    if (end < 0 || end == m_shownFill) return;
    m_shownFill = static_cast<int>(end);
    m_controls.TrackbarSetSel(IDC_DELAY_SLIDER, 0, static_cast<int>(end & 0xFFFF), true);
}

void CDelayEngine::WritePlayback(uint32_t index) {
    if (m_player.Write(index)) m_written.set(index);
}

void CDelayEngine::QueueCaptureSet() {
    for (uint32_t j = 0; j <= m_delayCount; ++j) Requeue(j);
}

void CDelayEngine::Requeue(uint32_t index) {
    if (m_recorder.AddBuffer(index)) m_queued.set(index);
}

// Accepts a returned capture header only if it is one of ours that is on the
// queue and really done; anything else (a notification that crossed a close
// and reopen, a duplicate) is stale and dropped.
bool CDelayEngine::TakeBack(const WAVEHDR* header, uint32_t* index) {
    if (header == nullptr || header->dwUser >= kBufferCount) return false;
    const auto i = static_cast<uint32_t>(header->dwUser);
    if (header != &m_recorder.Header(i) || !m_queued.test(i) || !(header->dwFlags & WHDR_DONE))
        return false;
    m_queued.reset(i);
    *index = i;
    return true;
}

void CDelayEngine::SetInputMeters(int left, int right) {
    m_controls.ProgressSetPos(IDC_INPUT_LEFT, left);
    m_controls.ProgressSetPos(IDC_INPUT_RIGHT, right);
}

void CDelayEngine::SetOutputMeters(int left, int right) {
    m_controls.ProgressSetPos(IDC_OUTPUT_LEFT, left);
    m_controls.ProgressSetPos(IDC_OUTPUT_RIGHT, right);
}

}  // namespace morvane
