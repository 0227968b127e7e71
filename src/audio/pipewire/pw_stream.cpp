#include "audio/pipewire/pw_stream.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "audio/pipewire/pw_headers.h"

namespace morvane {

struct CPwStream::Hooks {
    CPwStream* self = nullptr;
    spa_hook hook{};
    pw_stream_events events{};

    static void State(void* data, pw_stream_state, pw_stream_state state, const char*) {
        CPwStream* s = static_cast<Hooks*>(data)->self;
        if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) {
            s->m_ready = true;
        } else if (state == PW_STREAM_STATE_ERROR ||
                   (state == PW_STREAM_STATE_UNCONNECTED && s->m_ready)) {
            s->m_error = state == PW_STREAM_STATE_ERROR ? -EIO : -ENOENT;
            std::lock_guard lock(s->m_shared.mutex);
            s->Die();
        }
        pw_thread_loop_signal(s->m_loop, false);
    }

    static void Process(void* data) { static_cast<Hooks*>(data)->self->Process(); }
};

CPwStream::CPwStream(PwShared& shared, bool capture, const StreamFormat& format, IWaveWindow* window)
    : m_shared(shared), m_capture(capture), m_format(format), m_window(window) {}

CPwStream::~CPwStream() { delete m_hooks; }

namespace {

spa_audio_format SampleFormat(uint16_t bits) {
    switch (bits) {
        case 8: return SPA_AUDIO_FORMAT_U8;
        case 16: return SPA_AUDIO_FORMAT_S16_LE;
        case 24: return SPA_AUDIO_FORMAT_S24_LE;
        case 32: return SPA_AUDIO_FORMAT_S32_LE;
        default: return SPA_AUDIO_FORMAT_UNKNOWN;
    }
}

}  // namespace

bool CPwStream::Connect(pw_core* core, pw_thread_loop* loop, const std::string& target, bool monitor,
                        const WAVEFORMATEX& wfx) {
    m_loop = loop;
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, m_capture ? "Capture" : "Playback",
        PW_KEY_APP_NAME, "Morvane", PW_KEY_NODE_NAME, m_capture ? "morvane-capture" : "morvane-playback",
        PW_KEY_NODE_DESCRIPTION, m_capture ? "Morvane capture" : "Morvane playback", nullptr);
    // Both streams in one group: one driver runs them, and a device on
    // another clock follows it (the server resamples it), so the delay
    // holds across two sound cards as the server's own delay line does.
    pw_properties_setf(props, PW_KEY_NODE_GROUP, "morvane-%d", static_cast<int>(getpid()));
    if (!target.empty()) pw_properties_set(props, PW_KEY_TARGET_OBJECT, target.c_str());
    if (monitor) pw_properties_set(props, PW_KEY_STREAM_CAPTURE_SINK, "true");
    m_stream = pw_stream_new(core, m_capture ? "Capture" : "Playback", props);
    if (m_stream == nullptr) return false;
    m_hooks = new Hooks;
    m_hooks->self = this;
    m_hooks->events.version = PW_VERSION_STREAM_EVENTS;
    m_hooks->events.state_changed = &Hooks::State;
    m_hooks->events.process = &Hooks::Process;
    pw_stream_add_listener(m_stream, &m_hooks->hook, &m_hooks->events, m_hooks);

    m_silence = wfx.wBitsPerSample == 8 ? 0x80 : 0;
    spa_audio_info_raw info{};
    info.format = SampleFormat(wfx.wBitsPerSample);
    info.rate = wfx.nSamplesPerSec;
    info.channels = wfx.nChannels;
    if (wfx.nChannels == 1) {
        info.position[0] = SPA_AUDIO_CHANNEL_MONO;
    } else if (wfx.nChannels == 2) {
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
    } else {
        info.flags = SPA_AUDIO_FLAG_UNPOSITIONED;
    }
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[1] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
    // The data is moved on the graph's own thread, in its cycle: what is
    // written is heard exactly where the graph's timing says.
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_RT_PROCESS);
    return pw_stream_connect(m_stream, m_capture ? PW_DIRECTION_INPUT : PW_DIRECTION_OUTPUT, PW_ID_ANY, flags,
                             params, 1) >= 0;
}

void CPwStream::Disconnect() {
    if (m_stream == nullptr) return;
    spa_hook_remove(&m_hooks->hook);
    // Waits for the data thread to leave the stream.
    pw_stream_destroy(m_stream);
    m_stream = nullptr;
}

void CPwStream::Die() {
    m_dead = true;
    ReturnAll();
}

void CPwStream::Post(uint32_t msg, WAVEHDR* h) const {
    if (m_window != nullptr) m_window->PostWaveMessage(msg, Handle(), h);
}

void CPwStream::Complete(WAVEHDR* h) const {
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Post(m_capture ? MM_WIM_DATA : MM_WOM_DONE, h);
}

bool CPwStream::Time(GraphTime* out) const {
    pw_time t{};
    if (pw_stream_get_time_n(m_stream, &t, sizeof t) < 0 || t.rate.denom == 0 || t.now == 0) return false;
    out->nowNsec = t.now;
    out->rateNum = t.rate.num;
    out->rateDenom = t.rate.denom;
    out->ticks = t.ticks;
    out->delay = t.delay;
    out->queuedBytes = t.queued;
    out->bufferedFrames = t.buffered;
    return true;
}

int64_t CPwStream::MonotonicNsec() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace morvane
