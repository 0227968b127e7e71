#pragma once
// The link to the PipeWire server: a thread loop (the layer's audio thread
// for everything but the streams' data), the context and core, and the
// graph's nodes and default devices as the registry announces them, kept
// current by its events.
//
// Connected lazily by the first call that needs the server, and again after
// it went away: Open always tries, count and name queries at most every
// 250 ms, so that polling them stays cheap.
//
// Locking: the thread loop's lock guards everything here; the public calls
// take it (Lock), the loop's callbacks run with it held.

#include <signal.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audio/pipewire/pw_devices.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_registry;
struct pw_metadata;
struct spa_hook;

namespace morvane {

class CPwConnection {
public:
    // remote: a server socket name; empty for the default (PIPEWIRE_REMOTE,
    // or pipewire-0 in the runtime directory).
    explicit CPwConnection(std::string remote = {});
    ~CPwConnection();
    CPwConnection(const CPwConnection&) = delete;
    CPwConnection& operator=(const CPwConnection&) = delete;

    void Lock();
    void Unlock();
    bool InLoopThread() const;
    pw_thread_loop* Loop() const { return m_loop; }

    // With the lock held. eager: try now even if a try just failed.
    bool Ensure(bool eager);
    pw_core* Core() const { return m_core; }
    bool Connected() const { return m_core != nullptr && !m_lost; }

    const std::vector<PwDevice>& Capture() const { return m_capture; }
    const std::vector<PwDevice>& Playback() const { return m_playback; }
    std::optional<size_t> DefaultIndex(bool capture) const;

    // Called with the lock held when the server goes away; the streams made
    // on its core are dead.
    void SetLostHandler(std::function<void()> onLost) { m_onLost = std::move(onLost); }
    // Called with the lock held before the core goes (on reconnecting, or
    // at the end): the streams made on it must go first.
    void SetDropHandler(std::function<void()> onDrop) { m_onDrop = std::move(onDrop); }

    // Waits (lock held, never on the loop's thread) until done() or ms pass.
    bool WaitUntil(const std::function<bool()>& done, int ms);
    void Signal();

    // While one lives, threads made on this thread start with every signal blocked.
    class SignalsBlocked {
    public:
        SignalsBlocked();
        ~SignalsBlocked();
        SignalsBlocked(const SignalsBlocked&) = delete;
        SignalsBlocked& operator=(const SignalsBlocked&) = delete;

    private:
        sigset_t m_saved;
    };

    struct Listeners;  // the registry's, metadata's and core's callbacks

private:
    void Drop();
    void Rebuild();
    bool Sync(int ms);

    const std::string m_remote;
    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_registry* m_registry = nullptr;
    pw_metadata* m_metadata = nullptr;
    Listeners* m_listeners = nullptr;
    bool m_lost = false;
    int m_pendingSync = -1;
    bool m_synced = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastFailure;
    std::map<uint32_t, PwNode> m_nodes;
    std::string m_defaultSink, m_defaultSource;
    std::vector<PwDevice> m_capture, m_playback;
    std::vector<PwNode> m_nodeList;
    std::function<void()> m_onLost;
    std::function<void()> m_onDrop;
    friend struct Listeners;
};

}  // namespace morvane
