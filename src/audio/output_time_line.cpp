#include "audio/output_time_line.h"

#include <algorithm>

namespace morvane {

const char kOutputGapReport[] =
    "Morvane: the output ran dry while playing (the system did not keep up); the sound after the gap "
    "was lined up again to keep the delay.\n";

COutputTimeLine::COutputTimeLine(uint32_t bytesPerSec, uint32_t blockAlign)
    : m_bytesPerSec(std::max<uint32_t>(bytesPerSec, 1)), m_blockAlign(std::max<uint32_t>(blockAlign, 1)) {}

int64_t COutputTimeLine::Usec(uint64_t bytes) const {
    return static_cast<int64_t>(bytes / m_bytesPerSec * 1000000 + bytes % m_bytesPerSec * 1000000 / m_bytesPerSec);
}

void COutputTimeLine::Start(int64_t nowUsec) {
    m_startUsec = nowUsec;
    m_cuts.clear();
    m_cutPlayed = 0;
    m_reference.reset();
    m_stepSeen = false;
    m_window.clear();
}

void COutputTimeLine::LeftOut(uint64_t written, uint64_t bytes) {
    if (bytes == 0) return;
    m_cuts.push_back({written, bytes});
}

uint64_t COutputTimeLine::Reading(int64_t nowUsec, uint64_t played, uint64_t pending) {
    // A cut played past moves the time line on by what it left out; the
    // readings before it are of the old line.
    while (!m_cuts.empty() && played >= m_cuts.front().at) {
        m_cutPlayed += m_cuts.front().bytes;
        m_cuts.pop_front();
        m_window.clear();
    }
    // A cut still to be heard: until it is, the lag still shows what it mends.
    if (!m_cuts.empty() || pending > 0 || played == 0) {
        m_window.clear();
        return 0;
    }
    const int64_t lag = nowUsec - m_startUsec - Usec(played + m_cutPlayed);
    if (m_window.empty()) m_windowStartUsec = nowUsec;
    m_window.push_back(lag);
    if (nowUsec - m_windowStartUsec < kWindowUsec || m_window.size() < kMinReadings) return 0;
    const auto quartile = m_window.begin() + static_cast<std::ptrdiff_t>(m_window.size() / 4);
    std::nth_element(m_window.begin(), quartile, m_window.end());
    const int64_t low = *quartile;
    m_window.clear();
    if (m_reference && low - *m_reference >= kToleranceUsec) {
        // The window the gap came in holds readings from before, during and
        // after it: the next one tells how long it was.
        if (!m_stepSeen) {
            m_stepSeen = true;
            return 0;
        }
        m_stepSeen = false;
        const int64_t behind = std::min(low - *m_reference, kMaxLeaveOutUsec);
        const uint64_t bytes = static_cast<uint64_t>(behind) * m_bytesPerSec / 1000000 / m_blockAlign * m_blockAlign;
        return bytes;  // the reference stays: once heard, the lag is back on it
    }
    m_stepSeen = false;
    m_reference = low;
    return 0;
}

}  // namespace morvane
