#include "message_pump.h"

#include "sim_wave_api.h"

namespace morvane::sim {

void CMessagePump::PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back({uMsg, hDevice, pwh});
}

size_t CMessagePump::Pump() {
    size_t n = 0;
    while (PumpOne()) ++n;
    return n;
}

bool CMessagePump::PumpOne() {
    WaveMessage m{};
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) return false;
        m = m_queue.front();
        m_queue.pop_front();
    }
    if (m_handler) m_handler(m);
    return true;
}

size_t CMessagePump::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void CMessagePump::Discard() {
    std::lock_guard lock(m_mutex);
    m_queue.clear();
}

void RunUntil(CSimWaveApi& sim, CMessagePump& pump, uint64_t t) {
    pump.Pump();
    while (sim.Now() < t) {
        const auto next = sim.NextEventTime();
        sim.AdvanceTo(next && *next < t ? *next : t);
        pump.Pump();
    }
}

}  // namespace morvane::sim
