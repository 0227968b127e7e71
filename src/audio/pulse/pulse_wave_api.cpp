// The wave interface's calls: each is checked here and handed to the device
// list or to the stream it names.
//
// Locking: the main loop's lock guards all state of the layer. Callbacks run
// on the loop's thread with it held; the calls here take it on the caller's
// thread.

#include "audio/pulse/pulse_wave_api.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "audio/pulse/pulse_capture.h"
#include "audio/pulse/pulse_playback.h"

namespace morvane {
namespace {

bool PulseFormatFor(const WAVEFORMATEX& f, pa_sample_spec* pcm) {
    if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
    switch (f.wBitsPerSample) {
        case 8: pcm->format = PA_SAMPLE_U8; break;
        case 16: pcm->format = PA_SAMPLE_S16LE; break;
        case 24: pcm->format = PA_SAMPLE_S24LE; break;
        case 32: pcm->format = PA_SAMPLE_S32LE; break;
        default: return false;
    }
    pcm->rate = f.nSamplesPerSec;
    pcm->channels = static_cast<uint8_t>(f.nChannels);
    if (f.nChannels == 0 || f.nChannels > PA_CHANNELS_MAX) return false;
    if (!pa_sample_spec_valid(pcm)) return false;
    return f.nBlockAlign == pa_frame_size(pcm);
}

bool ValidHeader(const WAVEHDR* pwh, uint32_t cbwh) {
    return pwh != nullptr && cbwh >= sizeof(WAVEHDR) &&
           (pwh->lpData != nullptr || pwh->dwBufferLength == 0);
}

}  // namespace

class CPulseWaveApi::Lock {
public:
    explicit Lock(CPulseLoop* loop) : m_loop(loop) {
        if (m_loop != nullptr) m_loop->Lock();
    }
    ~Lock() {
        if (m_loop != nullptr) m_loop->Unlock();
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CPulseLoop* m_loop;
};

CPulseWaveApi::CPulseWaveApi(std::string server)
    : m_context(std::move(server)), m_devices(m_context), m_streams(m_context) {
    m_context.StartLoop(&CPulseStreamSet::Plan, &m_streams);
}

CPulseWaveApi::~CPulseWaveApi() {
    if (m_context.Loop() == nullptr) return;
    {
        Lock lock(m_context.Loop());
        m_streams.DestroyAll();
        m_context.Drop();
    }
    m_context.StopLoop();
}

// ---- device lists ----

uint32_t CPulseWaveApi::Count(bool capture) {
    Lock lock(m_context.Loop());
    m_devices.Refresh(false);
    return static_cast<uint32_t>(m_devices.List(capture).size());
}

MMRESULT CPulseWaveApi::Name(bool capture, uint32_t id, std::string* name) {
    if (name == nullptr) return MMSYSERR_INVALPARAM;
    Lock lock(m_context.Loop());
    if (!m_devices.Refresh(false)) return MMSYSERR_NODRIVER;
    return m_devices.Name(capture, id, name);
}

// ---- opening and closing ----

MMRESULT CPulseWaveApi::Open(bool capture, void** handle, uint32_t id, const WAVEFORMATEX* format,
                             IWaveWindow* window, uint32_t flags) {
    if (handle == nullptr || format == nullptr) return MMSYSERR_INVALPARAM;
    if ((flags & ~CALLBACK_WINDOW) != 0) return MMSYSERR_INVALFLAG;
    if ((flags & CALLBACK_WINDOW) != 0 && window == nullptr) return MMSYSERR_INVALPARAM;
    pa_sample_spec pcm{};
    if (!PulseFormatFor(*format, &pcm)) return WAVERR_BADFORMAT;
    if (m_context.Loop() == nullptr) return MMSYSERR_NODRIVER;

    Lock lock(m_context.Loop());
    if (!m_devices.Refresh(true)) return MMSYSERR_NODRIVER;
    const std::vector<CPulseDeviceList::Entry>& list = m_devices.List(capture);
    // Beyond the list, and WAVE_MAPPER, mean the server's default device.
    const char* deviceName = id < list.size() ? list[id].name.c_str() : nullptr;
    const std::string clock = id < list.size() ? list[id].clock : std::string();

    pa_channel_map map;
    pa_channel_map_init_extend(&map, pcm.channels, PA_CHANNEL_MAP_WAVEEX);
    pa_stream* s = pa_stream_new(m_context.Get(), capture ? "Capture" : "Playback", &pcm, &map);
    if (s == nullptr) return MMSYSERR_NOMEM;

    IWaveWindow* target = (flags & CALLBACK_WINDOW) != 0 ? window : nullptr;
    std::unique_ptr<CPulseStream> owned;
    if (capture)
        owned = std::make_unique<CPulseCapture>(m_streams, s, pcm, target);
    else
        owned = std::make_unique<CPulsePlayback>(m_streams, s, pcm, target);
    CPulseStream* d = owned.get();
    const int rc = d->Connect(deviceName, clock);
    m_streams.Add(std::move(owned));
    MMRESULT result = MMSYSERR_NOERROR;
    if (rc < 0) {
        result = MMSYSERR_ERROR;
    } else {
        m_context.WaitUntil(
            [](void* st) {
                const pa_stream_state_t x = pa_stream_get_state(static_cast<pa_stream*>(st));
                return x == PA_STREAM_READY || !PA_STREAM_IS_GOOD(x);
            },
            s, CPulseContext::kConnectTimeoutMs);
        if (pa_stream_get_state(s) != PA_STREAM_READY) result = MMSYSERR_ERROR;
    }
    if (result != MMSYSERR_NOERROR) {
        const int err = pa_context_errno(m_context.Get());
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context.Get())))
            result = MMSYSERR_NODRIVER;
        else if (err == PA_ERR_NOENTITY)
            result = MMSYSERR_BADDEVICEID;  // gone since the list was fetched, or no default
        else if (err == PA_ERR_NOTSUPPORTED || err == PA_ERR_INVALID)
            result = WAVERR_BADFORMAT;
        m_streams.Destroy(d);
        m_context.SetListsStale(true);
        return result;
    }
    d->Opened();
    *handle = d;
    d->Post(capture ? MM_WIM_OPEN : MM_WOM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::Close(bool capture, void* handle) {
    Lock lock(m_context.Loop());
    CPulseStream* d = m_streams.Find(handle, capture);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (d->HoldsBuffers()) return WAVERR_STILLPLAYING;
    IWaveWindow* window = d->Window();
    m_streams.Destroy(d);
    if (window != nullptr)
        window->PostWaveMessage(capture ? MM_WIM_CLOSE : MM_WOM_CLOSE, reinterpret_cast<uintptr_t>(handle),
                                nullptr);
    return MMSYSERR_NOERROR;
}

// ---- headers ----

MMRESULT CPulseWaveApi::Prepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    Lock lock(m_context.Loop());
    if (m_streams.Find(handle, capture) == nullptr) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pwh, cbwh)) return MMSYSERR_INVALPARAM;
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::Unprepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    Lock lock(m_context.Loop());
    if (m_streams.Find(handle, capture) == nullptr) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::Queue(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    Lock lock(m_context.Loop());
    CPulseStream* d = m_streams.Find(handle, capture);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pwh, cbwh)) return MMSYSERR_INVALPARAM;
    if ((pwh->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    if (!d->Ready()) return MMSYSERR_NODRIVER;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pwh->lpNext = nullptr;
    d->Queue(pwh);
    return MMSYSERR_NOERROR;
}

int64_t CPulseWaveApi::LastPlaybackCompensationUsec(HWAVEOUT hwo) {
    Lock lock(m_context.Loop());
    const CPulseStream* d = m_streams.Find(hwo, false);
    return d != nullptr ? static_cast<const CPulsePlayback*>(d)->LastCompensationUsec() : 0;
}

// ---- start, stop, reset ----

MMRESULT CPulseWaveApi::waveInStart(HWAVEIN hwi) {
    Lock lock(m_context.Loop());
    auto* d = static_cast<CPulseCapture*>(m_streams.Find(hwi, true));
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    if (!d->Ready()) return MMSYSERR_NODRIVER;
    d->Start();
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::waveInStop(HWAVEIN hwi) {
    Lock lock(m_context.Loop());
    auto* d = static_cast<CPulseCapture*>(m_streams.Find(hwi, true));
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    d->Stop();
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveApi::Reset(bool capture, void* handle) {
    Lock lock(m_context.Loop());
    CPulseStream* d = m_streams.Find(handle, capture);
    if (d == nullptr) return MMSYSERR_INVALHANDLE;
    d->Reset();
    return MMSYSERR_NOERROR;
}

}  // namespace morvane
