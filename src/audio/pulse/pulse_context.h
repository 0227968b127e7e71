#pragma once
// The connection to the sound server, and the audio thread it runs on.
//
// The connection is made lazily by the first query and made again by a later
// one after the server went away: an eager caller (an open) always tries,
// others at most every kReconnectInterval, so that polling stays cheap. Server
// events about sources and sinks, and a lost or new connection, mark the
// device lists stale (see CPulseDeviceList).
//
// Everything here runs under the loop's lock; the waits never on the loop's
// own thread (where they give up at once).

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "audio/pulse/pulse_loop.h"

struct pa_context;
struct pa_operation;

namespace morvane {

class CPulseContext {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kConnectTimeoutMs = 3000;
    static constexpr int kOperationTimeoutMs = 2000;

    // server: a server address as libpulse takes it; empty for its default.
    explicit CPulseContext(std::string server);
    ~CPulseContext();
    CPulseContext(const CPulseContext&) = delete;
    CPulseContext& operator=(const CPulseContext&) = delete;

    // Starts the audio thread, asking `planner` before every sleep. Without
    // a thread there is no loop and every call of the layer fails.
    void StartLoop(CPulseLoop::Planner planner, void* arg);
    // Ends the thread: before anything the planner looks at goes away.
    void StopLoop() { m_loop.reset(); }
    CPulseLoop* Loop() const { return m_loop.get(); }

    // Connected, or connected now. renewed: set when a new connection
    // replaced an old one (or none); what was known of the old is void.
    bool Ensure(bool eager, bool* renewed);
    void Drop();
    pa_context* Get() const { return m_context; }

    // The server's timing readings give positions as of its last processing
    // cycle, stamped with the time it answers (PipeWire).
    bool CycleStamped() const { return m_cycleStamped; }
    bool ListsStale() const { return m_listsStale; }
    void SetListsStale(bool stale) { m_listsStale = stale; }

    // Waiting on the loop for an answer (never from its own thread).
    bool WaitUntil(bool (*done)(void*), void* arg, int timeoutMs);
    bool WaitOperation(pa_operation* op, int timeoutMs);

private:
    static void OnState(pa_context* c, void* userdata);

    const std::string m_server;
    std::unique_ptr<CPulseLoop> m_loop;
    pa_context* m_context = nullptr;
    std::optional<Clock::time_point> m_lastConnectFailure;
    bool m_listsStale = true;
    bool m_cycleStamped = false;
};

}  // namespace morvane
