#include "audio/pulse/pulse_loop.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <pulse/mainloop.h>

#include <algorithm>

namespace morvane {
namespace {

// Milliseconds from now until `t`, rounded up so that a sleep never ends
// before it; 0 when past.
int MillisecondsUntil(CPulseLoop::Clock::time_point t, CPulseLoop::Clock::time_point now) {
    if (t <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(t - now).count();
    return static_cast<int>(std::min<int64_t>(ms, 24 * 3600 * 1000));
}

}  // namespace

CPulseLoop::CPulseLoop() {
    m_loop = pa_mainloop_new();
    if (m_loop != nullptr) pa_mainloop_set_poll_func(m_loop, &CPulseLoop::Poll, this);
}

CPulseLoop::~CPulseLoop() {
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::recursive_mutex> lock(m_mutex);
            m_quit = true;
            pa_mainloop_wakeup(m_loop);
        }
        m_thread.join();
    }
    if (m_loop != nullptr) pa_mainloop_free(m_loop);
}

bool CPulseLoop::Start(const std::string& threadName) {
    if (m_loop == nullptr || m_thread.joinable()) return false;
    // Held until the thread object is complete: the thread's first step
    // takes the lock.
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_thread = std::thread([this, name = threadName.substr(0, 15)] {
        pthread_setname_np(pthread_self(), name.c_str());
        // Signals go to the program's own threads, never to this one.
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        std::lock_guard<std::recursive_mutex> held(m_mutex);
        m_threadId = std::this_thread::get_id();
        while (!m_quit) {
            // Planned before the loop works out its own timeout, so that
            // timers the planner sets count.
            m_plan = m_planner != nullptr ? m_planner(m_plannerArg) : Plan{};
            if (pa_mainloop_prepare(m_loop, -1) < 0 || pa_mainloop_poll(m_loop) < 0 ||
                pa_mainloop_dispatch(m_loop) < 0)
                break;
        }
        m_threadId = std::thread::id();
    });
    return true;
}

pa_mainloop_api* CPulseLoop::Api() const {
    return m_loop != nullptr ? pa_mainloop_get_api(m_loop) : nullptr;
}

void CPulseLoop::Wait() {
    ++m_waiters;
    // A loop letting messages gather would answer late.
    pa_mainloop_wakeup(m_loop);
    m_signal.wait(m_mutex);
    --m_waiters;
}

void CPulseLoop::Wake() { pa_mainloop_wakeup(m_loop); }

// The loop's poll, on its thread with the lock held once.
int CPulseLoop::Poll(pollfd* fds, unsigned long count, int timeoutMs, void* userdata) {
    auto* self = static_cast<CPulseLoop*>(userdata);
    const Plan plan = self->m_plan;
    Clock::time_point start = Clock::now();
    if (plan.wakeAt != Clock::time_point::max()) {
        const int untilWake = MillisecondsUntil(plan.wakeAt, start);
        timeoutMs = timeoutMs < 0 ? untilWake : std::min(timeoutMs, untilWake);
    }
    self->m_mutex.unlock();
    // The loop's wake-up pipe comes first; the rest are the server's.
    // Whatever is waiting already is taken before any pause: a server that
    // sends captured sound over the socket rather than in shared memory has
    // one message ready per pass, and pausing after each would let capture
    // fall behind real time.
    if (count > 1 && self->m_waiters == 0 && start < plan.lookAt && timeoutMs != 0) {
        const int ready = poll(fds, count, 0);
        if (ready != 0) {
            self->m_mutex.lock();
            return ready;
        }
        int pause = MillisecondsUntil(plan.lookAt, start);
        if (timeoutMs >= 0) pause = std::min(pause, timeoutMs);
        if (poll(fds, 1, pause) != 0) {
            timeoutMs = 0;  // work handed over (or an error): do it now
        } else if (timeoutMs >= 0) {
            timeoutMs = MillisecondsUntil(start + std::chrono::milliseconds(timeoutMs), Clock::now());
        }
    }
    const int r = poll(fds, count, timeoutMs);
    self->m_mutex.lock();
    return r;
}

}  // namespace morvane
