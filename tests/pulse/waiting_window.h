#pragma once
// A notification target for tests of real devices: messages arrive on the
// audio thread (or the caller's) and the test waits for them on its own.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "audio/wave_api.h"

namespace morvane::pulsetest {

struct Message {
    uint32_t msg;
    uintptr_t device;
    WAVEHDR* header;
    std::chrono::steady_clock::time_point when;
};

class CWaitingWindow : public IWaveWindow {
public:
    void PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back({uMsg, hDevice, pwh, std::chrono::steady_clock::now()});
        }
        m_ready.notify_all();
    }

    // The oldest message, waiting up to `timeout` for one.
    std::optional<Message> Next(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_ready.wait_for(lock, timeout, [this] { return !m_queue.empty(); }))
            return std::nullopt;
        Message m = m_queue.front();
        m_queue.pop_front();
        return m;
    }

    // The oldest message of kind `msg`, dropping others before it.
    std::optional<Message> NextOf(uint32_t msg, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            std::optional<Message> m = Next(std::max(left, std::chrono::milliseconds(0)));
            if (!m || m->msg == msg) return m;
        }
    }

    // Everything posted so far, without waiting.
    std::deque<Message> TakeAll() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::deque<Message> out;
        out.swap(m_queue);
        return out;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Message> m_queue;
};

}  // namespace morvane::pulsetest
