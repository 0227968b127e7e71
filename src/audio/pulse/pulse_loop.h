#pragma once
// The audio thread: a libpulse main loop on a thread of its own, with one
// recursive lock that the loop holds except while it sleeps.
//
// A source hands data out every few milliseconds, and each hand-out is a
// message that would wake the thread. Waking costs far more than the work a
// message brings, so the loop asks its owner before every sleep when the
// server's messages are next worth taking (a captured buffer about to be
// full, say) and lets them gather until then; it also wakes by the owner's
// own deadline. Its timers, work handed over by other threads and anyone
// waiting for an answer (Wait) end a pause at once.

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
    using Clock = std::chrono::steady_clock;
    struct Plan {
        // The server's messages wait until then; a time already past takes
        // them as they come.
        Clock::time_point lookAt = Clock::time_point::min();
        // The loop wakes by then even if nothing else happens.
        Clock::time_point wakeAt = Clock::time_point::max();
    };
    using Planner = Plan (*)(void*);

    CPulseLoop();
    ~CPulseLoop();  // stops the thread
    CPulseLoop(const CPulseLoop&) = delete;
    CPulseLoop& operator=(const CPulseLoop&) = delete;

    // Asked on the loop's thread under the lock after each pass, before the
    // loop sleeps. Set before Start; without one, messages are taken at once.
    void SetPlanner(Planner planner, void* arg) {
        m_planner = planner;
        m_plannerArg = arg;
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
    // Makes the loop plan again now, for a change made from another thread.
    void Wake();
    bool InThread() const { return std::this_thread::get_id() == m_threadId.load(); }

private:
    static int Poll(pollfd* fds, unsigned long count, int timeoutMs, void* userdata);

    pa_mainloop* m_loop = nullptr;
    std::recursive_mutex m_mutex;
    std::condition_variable_any m_signal;
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
    std::atomic<int> m_waiters{0};
    Planner m_planner = nullptr;
    void* m_plannerArg = nullptr;
    bool m_quit = false;
    Plan m_plan;  // the loop thread's own
};

}  // namespace morvane
