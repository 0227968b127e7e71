#include "audio/late_capture_watch.h"

namespace morvane {

bool CLateCaptureWatch::Note(int64_t ageUsec) {
    m_late = ageUsec > kLateUsec ? m_late + 1 : 0;
    if (m_late < kInARow || m_told) return false;
    m_told = true;
    std::fprintf(m_report,
                 "Morvane: recorded sound arrives %.0f ms late (the sound server or the system does not "
                 "keep up); playback is lined up against it, up to 1 s.\n",
                 static_cast<double>(ageUsec) / 1000.0);
    return true;
}

}  // namespace morvane
