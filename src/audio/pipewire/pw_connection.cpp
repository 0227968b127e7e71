#include "audio/pipewire/pw_connection.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "audio/pipewire/pw_headers.h"

namespace morvane {
namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr auto kReconnectInterval = std::chrono::milliseconds(250);

void InitLibrary() {
    static const bool done = [] {
        pw_init(nullptr, nullptr);
        return true;
    }();
    (void)done;
}

std::string Lookup(const spa_dict* props, const char* key) {
    const char* v = props != nullptr ? spa_dict_lookup(props, key) : nullptr;
    return v != nullptr ? v : "";
}

}  // namespace

// The library's threads (the loop's, the graph's data thread) take no
// signals: the program's own handling of them must see every one.
CPwConnection::SignalsBlocked::SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &m_saved);
}
CPwConnection::SignalsBlocked::~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }

struct CPwConnection::Listeners {
    CPwConnection* self = nullptr;
    spa_hook core{};
    spa_hook registry{};
    spa_hook metadata{};
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
    pw_metadata_events metadataEvents{};

    static void Done(void* data, uint32_t id, int seq) {
        auto* c = static_cast<Listeners*>(data)->self;
        if (id == PW_ID_CORE && seq == c->m_pendingSync) {
            c->m_synced = true;
            c->Signal();
        }
    }

    static void Error(void* data, uint32_t id, int, int res, const char*) {
        auto* c = static_cast<Listeners*>(data)->self;
        // A broken connection is the server gone; other errors belong to
        // the object they name (a stream's come to the stream itself).
        if (id != PW_ID_CORE || (res != -EPIPE && res != -ECONNRESET)) return;
        if (c->m_lost) return;
        c->m_lost = true;
        if (c->m_onLost) c->m_onLost();
        c->Signal();
    }

    static void Global(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
        auto* c = static_cast<Listeners*>(data)->self;
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
            PwNode n;
            n.id = id;
            n.mediaClass = Lookup(props, PW_KEY_MEDIA_CLASS);
            if (!PwIsSource(n.mediaClass) && !PwIsSink(n.mediaClass)) return;
            n.name = Lookup(props, PW_KEY_NODE_NAME);
            n.description = Lookup(props, PW_KEY_NODE_DESCRIPTION);
            if (n.description.empty()) n.description = Lookup(props, PW_KEY_NODE_NICK);
            if (n.description.empty()) n.description = n.name;
            const std::string serial = Lookup(props, PW_KEY_OBJECT_SERIAL);
            n.serial = serial.empty() ? id : std::strtoull(serial.c_str(), nullptr, 10);
            c->m_nodes[id] = std::move(n);
            c->Rebuild();
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 && c->m_metadata == nullptr &&
                   Lookup(props, "metadata.name") == "default") {
            auto* l = static_cast<Listeners*>(data);
            c->m_metadata = static_cast<pw_metadata*>(
                pw_registry_bind(c->m_registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
            if (c->m_metadata != nullptr)
                pw_metadata_add_listener(c->m_metadata, &l->metadata, &l->metadataEvents, l);
        }
    }

    static void GlobalRemove(void* data, uint32_t id) {
        auto* c = static_cast<Listeners*>(data)->self;
        if (c->m_nodes.erase(id) > 0) c->Rebuild();
    }

    static int Property(void* data, uint32_t subject, const char* key, const char*, const char* value) {
        auto* c = static_cast<Listeners*>(data)->self;
        if (subject != PW_ID_CORE) return 0;
        if (key == nullptr) {  // everything cleared
            c->m_defaultSink.clear();
            c->m_defaultSource.clear();
        } else if (std::strcmp(key, "default.audio.sink") == 0) {
            c->m_defaultSink = PwDefaultName(value);
        } else if (std::strcmp(key, "default.audio.source") == 0) {
            c->m_defaultSource = PwDefaultName(value);
        }
        return 0;
    }
};

CPwConnection::CPwConnection(std::string remote) : m_remote(std::move(remote)) {
    InitLibrary();
    SignalsBlocked blocked;
    m_loop = pw_thread_loop_new("morvane-audio", nullptr);
    if (m_loop != nullptr && pw_thread_loop_start(m_loop) < 0) {
        pw_thread_loop_destroy(m_loop);
        m_loop = nullptr;
    }
    if (m_loop == nullptr) return;
    pw_thread_loop_lock(m_loop);
    // The client configuration that gives the data thread real-time
    // priority where the system allows it: a busy machine must not hold
    // the streams' data up.
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop),
                               pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    pw_thread_loop_unlock(m_loop);
}

CPwConnection::~CPwConnection() {
    if (m_loop == nullptr) return;
    pw_thread_loop_lock(m_loop);
    Drop();
    pw_thread_loop_unlock(m_loop);
    pw_thread_loop_stop(m_loop);
    if (m_context != nullptr) pw_context_destroy(m_context);
    pw_thread_loop_destroy(m_loop);
}

void CPwConnection::Lock() {
    if (m_loop != nullptr) pw_thread_loop_lock(m_loop);
}
void CPwConnection::Unlock() {
    if (m_loop != nullptr) pw_thread_loop_unlock(m_loop);
}
bool CPwConnection::InLoopThread() const { return m_loop != nullptr && pw_thread_loop_in_thread(m_loop); }
void CPwConnection::Signal() { pw_thread_loop_signal(m_loop, false); }

bool CPwConnection::WaitUntil(const std::function<bool()>& done, int ms) {
    if (done()) return true;
    if (InLoopThread()) return false;
    timespec abstime{};
    pw_thread_loop_get_time(m_loop, &abstime, static_cast<int64_t>(ms) * SPA_NSEC_PER_MSEC);
    while (!done())
        if (pw_thread_loop_timed_wait_full(m_loop, &abstime) != 0) break;
    return done();
}

void CPwConnection::Drop() {
    if (m_core != nullptr && m_onDrop) m_onDrop();
    if (m_metadata != nullptr) {
        spa_hook_remove(&m_listeners->metadata);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_metadata));
        m_metadata = nullptr;
    }
    if (m_registry != nullptr) {
        spa_hook_remove(&m_listeners->registry);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_registry));
        m_registry = nullptr;
    }
    if (m_core != nullptr) {
        spa_hook_remove(&m_listeners->core);
        pw_core_disconnect(m_core);
        m_core = nullptr;
    }
    delete m_listeners;
    m_listeners = nullptr;
    m_nodes.clear();
    m_defaultSink.clear();
    m_defaultSource.clear();
    Rebuild();
}

bool CPwConnection::Sync(int ms) {
    m_synced = false;
    m_pendingSync = pw_core_sync(m_core, PW_ID_CORE, 0);
    return WaitUntil([this] { return m_synced || m_lost; }, ms) && m_synced;
}

bool CPwConnection::Ensure(bool eager) {
    if (m_loop == nullptr || m_context == nullptr) return false;
    if (Connected()) return true;
    if (!eager && m_lastFailure && std::chrono::steady_clock::now() - *m_lastFailure < kReconnectInterval)
        return false;
    Drop();
    m_lost = false;
    SignalsBlocked blocked;
    pw_properties* props = pw_properties_new(PW_KEY_APP_NAME, "Morvane", nullptr);
    if (!m_remote.empty()) pw_properties_set(props, PW_KEY_REMOTE_NAME, m_remote.c_str());
    m_core = pw_context_connect(m_context, props, 0);
    bool ok = false;
    if (m_core != nullptr) {
        m_listeners = new Listeners;
        Listeners& l = *m_listeners;
        l.self = this;
        l.coreEvents.version = PW_VERSION_CORE_EVENTS;
        l.coreEvents.done = &Listeners::Done;
        l.coreEvents.error = &Listeners::Error;
        l.registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
        l.registryEvents.global = &Listeners::Global;
        l.registryEvents.global_remove = &Listeners::GlobalRemove;
        l.metadataEvents.version = PW_VERSION_METADATA_EVENTS;
        l.metadataEvents.property = &Listeners::Property;
        pw_core_add_listener(m_core, &l.core, &l.coreEvents, &l);
        m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
        if (m_registry != nullptr) {
            pw_registry_add_listener(m_registry, &l.registry, &l.registryEvents, &l);
            // Two round trips: the globals, then what binding the defaults brought.
            ok = Sync(kConnectTimeoutMs) && Sync(kConnectTimeoutMs);
        }
    }
    if (!ok) {
        Drop();
        m_lastFailure = std::chrono::steady_clock::now();
        return false;
    }
    m_lastFailure.reset();
    return true;
}

void CPwConnection::Rebuild() {
    m_nodeList.clear();
    for (const auto& [id, n] : m_nodes) m_nodeList.push_back(n);
    m_capture = PwCaptureDevices(m_nodeList);
    m_playback = PwPlaybackDevices(m_nodeList);
}

std::optional<size_t> CPwConnection::DefaultIndex(bool capture) const {
    return capture ? PwFindDefault(m_capture, m_defaultSource, true, m_nodeList)
                   : PwFindDefault(m_playback, m_defaultSink, false, m_nodeList);
}

}  // namespace morvane
