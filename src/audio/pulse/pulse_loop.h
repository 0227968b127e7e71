#pragma once
// The audio thread: a libpulse main loop on a thread of its own, with one
// recursive lock that the loop holds except while it sleeps.
//
// A source hands data out every few milliseconds, and each hand-out is a
// message that would wake the thread. The loop lets the server's messages
// gather for a while instead: after each wake-up it sleeps out the rest of a
// batch period, woken early only by its own timers and by work other threads
// give it. While another thread waits for an answer (Wait), or the owner
// says it expects one (the hurry check), it does not pause, so round trips
// stay quick.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct pa_mainloop;
struct pa_mainloop_api;
struct pollfd;

namespace morvane {

class CPulseLoop {
public:
    explicit CPulseLoop(std::chrono::milliseconds batch);
    ~CPulseLoop();  // stops the thread
    CPulseLoop(const CPulseLoop&) = delete;
    CPulseLoop& operator=(const CPulseLoop&) = delete;

    // hurry: asked under the lock before every sleep; true means an answer
    // is expected, take it as soon as it comes. Set before Start.
    void SetHurryCheck(bool (*hurry)(void*), void* arg) {
        m_hurry = hurry;
        m_hurryArg = arg;
    }
    bool Start(const std::string& threadName);
    pa_mainloop_api* Api() const;

    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    // Wakes every Wait. Called with the lock held.
    void Signal() { m_signal.notify_all(); }
    // Sleeps until a Signal (or spuriously). Called with the lock held once,
    // never from the loop's own thread.
    void Wait();
    bool InThread() const { return std::this_thread::get_id() == m_threadId.load(); }

private:
    using Clock = std::chrono::steady_clock;
    static int Poll(pollfd* fds, unsigned long count, int timeoutMs, void* userdata);

    const std::chrono::milliseconds m_batch;
    pa_mainloop* m_loop = nullptr;
    std::recursive_mutex m_mutex;
    std::condition_variable_any m_signal;
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
    std::atomic<int> m_waiters{0};
    bool (*m_hurry)(void*) = nullptr;
    void* m_hurryArg = nullptr;
    bool m_quit = false;
    Clock::time_point m_batchEnd{};  // the loop thread's own
};

}  // namespace morvane
