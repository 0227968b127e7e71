#include "audio/pulse/pulse_loop.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <pulse/mainloop.h>

#include <algorithm>

namespace morvane {

CPulseLoop::CPulseLoop(std::chrono::milliseconds batch) : m_batch(batch) {
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
        while (!m_quit)
            if (pa_mainloop_iterate(m_loop, 1, nullptr) < 0) break;
        m_threadId = std::thread::id();
    });
    return true;
}

pa_mainloop_api* CPulseLoop::Api() const {
    return m_loop != nullptr ? pa_mainloop_get_api(m_loop) : nullptr;
}

void CPulseLoop::Wait() {
    ++m_waiters;
    // A loop pausing for its batch would answer late.
    pa_mainloop_wakeup(m_loop);
    m_signal.wait(m_mutex);
    --m_waiters;
}

// The loop's poll, on its thread with the lock held once.
int CPulseLoop::Poll(pollfd* fds, unsigned long count, int timeoutMs, void* userdata) {
    auto* self = static_cast<CPulseLoop*>(userdata);
    const bool hurry = self->m_hurry != nullptr && self->m_hurry(self->m_hurryArg);
    self->m_mutex.unlock();
    const Clock::time_point start = Clock::now();
    // The loop's wake-up pipe comes first; the rest are the server's.
    if (count > 1 && !hurry && self->m_waiters == 0 && start < self->m_batchEnd) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(self->m_batchEnd - start);
        int pause = static_cast<int>(left.count());
        if (timeoutMs >= 0) pause = std::min(pause, timeoutMs);
        if (poll(fds, 1, pause) != 0) {
            timeoutMs = 0;  // work handed over (or an error): do it now
        } else if (timeoutMs >= 0) {
            const auto slept =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            timeoutMs = std::max(0, timeoutMs - static_cast<int>(slept.count()));
        }
    }
    const int r = poll(fds, count, timeoutMs);
    self->m_batchEnd = Clock::now() + self->m_batch;
    self->m_mutex.lock();
    return r;
}

}  // namespace morvane
