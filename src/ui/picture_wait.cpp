#include "ui/picture_wait.h"

#include <condition_variable>
#include <mutex>

namespace morvane {
namespace {

class CSteadyEvent final : public IWaitableEvent {
public:
    void Set() override {
        {
            std::lock_guard lock(m_mutex);
            m_set = true;
        }
        m_changed.notify_all();
    }

    void Reset() override {
        std::lock_guard lock(m_mutex);
        m_set = false;
    }

    bool Wait(std::chrono::milliseconds timeout) override {
        std::unique_lock lock(m_mutex);
        const auto isSet = [this] { return m_set; };
        if (timeout == kWaitForever) {
            m_changed.wait(lock, isSet);
            return true;
        }
        // A deadline, not a relative wait, so that spurious wake-ups do not
        // lengthen the wait.
        return m_changed.wait_until(lock, std::chrono::steady_clock::now() + timeout, isSet);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

class CSteadyWaitClock final : public IWaitClock {
public:
    std::unique_ptr<IWaitableEvent> MakeEvent() override { return std::make_unique<CSteadyEvent>(); }
};

}  // namespace

IWaitClock& SteadyWaitClock() {
    static CSteadyWaitClock clock;
    return clock;
}

}  // namespace morvane
