// The PipeWire layer's face: the wave calls, dispatched to the connection
// and to each open device's stream.

#include "audio/pipewire/pipewire_wave_api.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "audio/pipewire/pw_capture.h"
#include "audio/pipewire/pw_playback.h"

namespace morvane {
namespace {

constexpr int kOpenTimeoutMs = 3000;

bool ValidHeader(const WAVEHDR* pwh, uint32_t cbwh) {
    return pwh != nullptr && cbwh >= sizeof(WAVEHDR) && (pwh->lpData != nullptr || pwh->dwBufferLength == 0);
}

bool Supported(const WAVEFORMATEX& f) {
    const bool bits = f.wBitsPerSample == 8 || f.wBitsPerSample == 16 || f.wBitsPerSample == 24 ||
                      f.wBitsPerSample == 32;
    return f.wFormatTag == WAVE_FORMAT_PCM && bits && f.nChannels >= 1 && f.nChannels <= 64 &&
           f.nSamplesPerSec >= 1000 && f.nSamplesPerSec <= 768000 &&
           f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

}  // namespace

CPipeWireWaveApi::CPipeWireWaveApi(std::string remote) : m_connection(std::move(remote)) {
    // The server going away takes every stream with it.
    m_connection.SetLostHandler([this] {
        std::lock_guard lock(m_shared.mutex);
        for (CPwStream* s : m_streams) s->Die();
    });
    // A dead stream's graph object goes with the old core; the stream stays
    // for its owner to close.
    m_connection.SetDropHandler([this] {
        std::set<CPwStream*> streams;
        {
            std::lock_guard lock(m_shared.mutex);
            streams = m_streams;
            for (CPwStream* s : streams) s->Die();
        }
        for (CPwStream* s : streams) s->Disconnect();
    });
}

CPipeWireWaveApi::~CPipeWireWaveApi() {
    m_connection.Lock();
    m_connection.SetDropHandler(nullptr);
    m_connection.SetLostHandler(nullptr);
    std::set<CPwStream*> streams;
    {
        std::lock_guard lock(m_shared.mutex);
        streams.swap(m_streams);
    }
    for (CPwStream* s : streams) {
        s->Disconnect();
        delete s;
    }
    m_connection.Unlock();
}

bool CPipeWireWaveApi::Connect() {
    m_connection.Lock();
    const bool ok = m_connection.Ensure(true);
    m_connection.Unlock();
    return ok;
}

CPwStream* CPipeWireWaveApi::Find(const void* handle, bool capture) {
    auto* s = static_cast<CPwStream*>(const_cast<void*>(handle));
    if (s == nullptr || m_streams.count(s) == 0 || s->IsCapture() != capture) return nullptr;
    return s;
}

// ---- device lists ----

uint32_t CPipeWireWaveApi::Count(bool capture) {
    m_connection.Lock();
    m_connection.Ensure(false);
    const size_t n = capture ? m_connection.Capture().size() : m_connection.Playback().size();
    m_connection.Unlock();
    return static_cast<uint32_t>(n);
}

MMRESULT CPipeWireWaveApi::Name(bool capture, uint32_t id, std::string* name) {
    if (name == nullptr) return MMSYSERR_INVALPARAM;
    m_connection.Lock();
    MMRESULT r = MMSYSERR_NOERROR;
    if (!m_connection.Ensure(false)) {
        r = MMSYSERR_NODRIVER;
    } else {
        const std::vector<PwDevice>& list = capture ? m_connection.Capture() : m_connection.Playback();
        std::optional<size_t> index = id;
        if (id == WAVE_MAPPER) index = m_connection.DefaultIndex(capture);
        if (!index || *index >= list.size())
            r = MMSYSERR_BADDEVICEID;
        else
            *name = list[*index].description;
    }
    m_connection.Unlock();
    return r;
}

// ---- opening and closing ----

MMRESULT CPipeWireWaveApi::Open(bool capture, void** handle, uint32_t id, const WAVEFORMATEX* format,
                                IWaveWindow* window, uint32_t flags) {
    if (handle == nullptr || format == nullptr) return MMSYSERR_INVALPARAM;
    if ((flags & ~CALLBACK_WINDOW) != 0) return MMSYSERR_INVALFLAG;
    if ((flags & CALLBACK_WINDOW) != 0 && window == nullptr) return MMSYSERR_INVALPARAM;
    if (!Supported(*format)) return WAVERR_BADFORMAT;
    const StreamFormat sf{format->nSamplesPerSec, format->nBlockAlign};
    IWaveWindow* target = (flags & CALLBACK_WINDOW) != 0 ? window : nullptr;

    m_connection.Lock();
    if (!m_connection.Ensure(true)) {
        m_connection.Unlock();
        return MMSYSERR_NODRIVER;
    }
    const std::vector<PwDevice>& list = capture ? m_connection.Capture() : m_connection.Playback();
    // Beyond the list, and WAVE_MAPPER, mean the server's default device.
    const std::optional<size_t> index =
        id < list.size() ? std::optional<size_t>(id) : m_connection.DefaultIndex(capture);
    const std::string deviceName = id < list.size() ? list[id].target : std::string();
    const bool monitor = id < list.size() && list[id].monitor;
    CPwStream* s = capture ? static_cast<CPwStream*>(new CPwCapture(m_shared, sf, target))
                           : static_cast<CPwStream*>(new CPwPlayback(m_shared, sf, target));
    if (capture && index && *index < list.size()) static_cast<CPwCapture*>(s)->monitor = list[*index].monitor;
    MMRESULT result = MMSYSERR_NOERROR;
    CPwConnection::SignalsBlocked blocked;
    if (!s->Connect(m_connection.Core(), m_connection.Loop(), deviceName, monitor, *format)) {
        result = MMSYSERR_NOMEM;
    } else {
        m_connection.WaitUntil([&] { return s->Ready() || s->Failed() || !m_connection.Connected(); },
                               kOpenTimeoutMs);
        if (!m_connection.Connected())
            result = MMSYSERR_NODRIVER;
        else if (!s->Ready())
            result = s->Error() == -ENOENT ? MMSYSERR_BADDEVICEID : MMSYSERR_ERROR;
    }
    if (result != MMSYSERR_NOERROR) {
        s->Disconnect();
        m_connection.Unlock();
        delete s;
        return result;
    }
    {
        std::lock_guard lock(m_shared.mutex);
        m_streams.insert(s);
    }
    m_connection.Unlock();
    *handle = s;
    s->Post(capture ? MM_WIM_OPEN : MM_WOM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT CPipeWireWaveApi::Close(bool capture, void* handle) {
    m_connection.Lock();
    CPwStream* s = nullptr;
    {
        std::lock_guard lock(m_shared.mutex);
        s = Find(handle, capture);
        if (s == nullptr) {
            m_connection.Unlock();
            return MMSYSERR_INVALHANDLE;
        }
        if (s->Holds()) {
            m_connection.Unlock();
            return WAVERR_STILLPLAYING;
        }
        m_streams.erase(s);
    }
    s->Disconnect();
    m_connection.Unlock();
    s->Post(capture ? MM_WIM_CLOSE : MM_WOM_CLOSE, nullptr);
    delete s;
    return MMSYSERR_NOERROR;
}

// ---- headers ----

MMRESULT CPipeWireWaveApi::Prepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    std::lock_guard lock(m_shared.mutex);
    if (Find(handle, capture) == nullptr) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pwh, cbwh)) return MMSYSERR_INVALPARAM;
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CPipeWireWaveApi::Unprepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    std::lock_guard lock(m_shared.mutex);
    if (Find(handle, capture) == nullptr) return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CPipeWireWaveApi::Queue(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) {
    std::lock_guard lock(m_shared.mutex);
    CPwStream* s = Find(handle, capture);
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pwh, cbwh)) return MMSYSERR_INVALPARAM;
    if ((pwh->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    if (s->Failed()) return MMSYSERR_NODRIVER;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pwh->lpNext = nullptr;
    if (capture)
        static_cast<CPwCapture*>(s)->Queue(pwh);
    else
        static_cast<CPwPlayback*>(s)->Write(pwh);
    return MMSYSERR_NOERROR;
}

MMRESULT CPipeWireWaveApi::Reset(bool capture, void* handle) {
    std::lock_guard lock(m_shared.mutex);
    CPwStream* s = Find(handle, capture);
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    // Posted from here, in queue order, before returning; anything the data
    // thread finished before was posted before, under the same lock.
    if (capture)
        static_cast<CPwCapture*>(s)->Reset();
    else
        static_cast<CPwPlayback*>(s)->Reset();
    return MMSYSERR_NOERROR;
}

MMRESULT CPipeWireWaveApi::waveInStart(HWAVEIN hwi) {
    std::lock_guard lock(m_shared.mutex);
    CPwStream* s = Find(hwi, true);
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    if (s->Failed()) return MMSYSERR_NODRIVER;
    static_cast<CPwCapture*>(s)->Start();
    return MMSYSERR_NOERROR;
}

MMRESULT CPipeWireWaveApi::waveInStop(HWAVEIN hwi) {
    std::lock_guard lock(m_shared.mutex);
    CPwStream* s = Find(hwi, true);
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    static_cast<CPwCapture*>(s)->Stop();
    return MMSYSERR_NOERROR;
}

int64_t CPipeWireWaveApi::LastPlaybackCompensationUsec(HWAVEOUT hwo) {
    std::lock_guard lock(m_shared.mutex);
    CPwStream* s = Find(hwo, false);
    return s != nullptr ? static_cast<CPwPlayback*>(s)->LastCompensationUsec() : 0;
}

}  // namespace morvane
