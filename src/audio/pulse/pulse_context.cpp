// The connection to the server and waiting for its answers.

#include "audio/pulse/pulse_context.h"

#include <pulse/pulseaudio.h>

namespace morvane {
namespace {

// A count query while the server is away tries again no sooner than this.
constexpr auto kReconnectInterval = std::chrono::milliseconds(250);

}  // namespace

CPulseContext::CPulseContext(std::string server) : m_server(std::move(server)) {}

CPulseContext::~CPulseContext() = default;

void CPulseContext::StartLoop(CPulseLoop::Planner planner, void* arg) {
    m_loop = std::make_unique<CPulseLoop>();
    m_loop->SetPlanner(planner, arg);
    if (!m_loop->Start("morvane-audio")) m_loop.reset();
}

bool CPulseContext::WaitUntil(bool (*done)(void*), void* arg, int timeoutMs) {
    if (done(arg)) return true;
    if (m_loop->InThread()) return false;
    struct Alarm {
        CPulseLoop* loop;
        bool fired;
    } alarm{m_loop.get(), false};
    pa_mainloop_api* api = m_loop->Api();
    timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event* e = api->time_new(
        api, &tv,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* ud) {
            auto* a = static_cast<Alarm*>(ud);
            a->fired = true;
            a->loop->Signal();
        },
        &alarm);
    while (!done(arg) && !alarm.fired) m_loop->Wait();
    api->time_free(e);
    return done(arg);
}

bool CPulseContext::WaitOperation(pa_operation* op, int timeoutMs) {
    if (op == nullptr) return false;
    pa_operation_set_state_callback(
        op, [](pa_operation*, void* ud) {
            static_cast<CPulseLoop*>(ud)->Signal();
        },
        m_loop.get());
    WaitUntil(
        [](void* o) {
            return pa_operation_get_state(static_cast<pa_operation*>(o)) != PA_OPERATION_RUNNING;
        },
        op, timeoutMs);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    // A cancelled operation calls nothing any more: its callback may point at
    // the caller's stack.
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
    pa_operation_set_state_callback(op, nullptr, nullptr);
    pa_operation_unref(op);
    return done;
}

void CPulseContext::OnState(pa_context* c, void* userdata) {
    auto* self = static_cast<CPulseContext*>(userdata);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) self->m_listsStale = true;
    self->m_loop->Signal();
}

void CPulseContext::Drop() {
    if (m_context == nullptr) return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
    m_listsStale = true;
}

bool CPulseContext::Ensure(bool eager, bool* renewed) {
    if (m_loop == nullptr) return false;
    if (m_context != nullptr && pa_context_get_state(m_context) == PA_CONTEXT_READY) return true;
    if (!eager && m_lastConnectFailure && Clock::now() - *m_lastConnectFailure < kReconnectInterval)
        return false;
    Drop();
    *renewed = true;
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Morvane");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "morvane");
    m_context = pa_context_new_with_proplist(m_loop->Api(), "Morvane", props);
    pa_proplist_free(props);
    bool ok = false;
    if (m_context != nullptr) {
        pa_context_set_state_callback(m_context, &CPulseContext::OnState, this);
        // With a missing socket this can fail at once instead of by state.
        if (pa_context_connect(m_context, m_server.empty() ? nullptr : m_server.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            WaitUntil(
                [](void* c) {
                    const pa_context_state_t s = pa_context_get_state(static_cast<pa_context*>(c));
                    return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
                },
                m_context, kConnectTimeoutMs);
            ok = pa_context_get_state(m_context) == PA_CONTEXT_READY;
        }
    }
    if (!ok) {
        Drop();
        m_lastConnectFailure = Clock::now();
        return false;
    }
    m_lastConnectFailure.reset();
    // Which server this is decides how its timing readings are read.
    std::string serverName;
    WaitOperation(pa_context_get_server_info(
                      m_context,
                      [](pa_context*, const pa_server_info* info, void* out) {
                          if (info != nullptr && info->server_name != nullptr)
                              *static_cast<std::string*>(out) = info->server_name;
                      },
                      &serverName),
                  kOperationTimeoutMs);
    m_cycleStamped = serverName.find("PipeWire") != std::string::npos;
    // Any change of a source or sink makes the lists stale; the next query
    // fetches them again.
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
            static_cast<CPulseContext*>(self)->m_listsStale = true;
        },
        this);
    if (pa_operation* op = pa_context_subscribe(
            m_context,
            static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                PA_SUBSCRIPTION_MASK_SOURCE),
            nullptr, nullptr))
        pa_operation_unref(op);
    m_listsStale = true;
    return true;
}

}  // namespace morvane
