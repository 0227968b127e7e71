#pragma once
// The test's stand-in for the UI thread's message queue: devices post into it
// (from any thread), the test pumps it and dispatches in post order.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "audio/wave_api.h"

namespace morvane::sim {

struct WaveMessage {
    uint32_t msg;
    uintptr_t device;
    WAVEHDR* header;
};

class CMessagePump : public IWaveWindow {
public:
    using Handler = std::function<void(const WaveMessage&)>;
    explicit CMessagePump(Handler handler = {}) : m_handler(std::move(handler)) {}
    void SetHandler(Handler handler) { m_handler = std::move(handler); }

    void PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) override;
    // Dispatches until the queue is empty, including what handlers post.
    size_t Pump();
    // Dispatches the oldest message only; false when there was none.
    bool PumpOne();
    size_t Pending() const;
    void Discard();

private:
    Handler m_handler;
    mutable std::mutex m_mutex;
    std::deque<WaveMessage> m_queue;
};

class CSimWaveApi;
// Runs virtual time to `t`, pumping the queue at every device event, as a
// UI thread that answers each notification at once.
void RunUntil(CSimWaveApi& sim, CMessagePump& pump, uint64_t t);

}  // namespace morvane::sim
