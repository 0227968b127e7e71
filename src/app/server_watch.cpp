#include "app/server_watch.h"

#include "audio/wave_api.h"
#include "engine/delay_engine.h"

namespace morvane {

void CServerWatch::Check() {
    const bool there = m_wave.waveInGetNumDevs() > 0 || m_wave.waveOutGetNumDevs() > 0;
    if (there == !m_gone) return;
    m_gone = !there;
    if (m_gone) {
        std::fprintf(m_report, "morvane: the sound server went away; waiting for it to come back\n");
    } else if (m_engine.IsPlaying()) {
        m_engine.Stop();
        m_engine.Play();
        std::fprintf(m_report, "morvane: the sound server is back; the delay line runs again\n");
    } else {
        std::fprintf(m_report, "morvane: the sound server is back\n");
    }
    std::fflush(m_report);
}

}  // namespace morvane
