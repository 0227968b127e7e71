#include "sim_wave_api.h"

#include <algorithm>
#include <cstring>

namespace morvane::sim {

int16_t NoiseSample(uint64_t frame, uint16_t channel) {
    uint64_t x = (frame * 2 + channel + 1) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    return static_cast<int16_t>(x >> 48);
}

void NoiseSignal(uint64_t start, uint32_t frames, uint16_t channels, int16_t* out) {
    for (uint32_t f = 0; f < frames; ++f)
        for (uint16_t c = 0; c < channels; ++c) *out++ = NoiseSample(start + f, c);
}

CSimWaveApi::CSimWaveApi(uint32_t sampleRate) : m_rate(sampleRate) {}

uint32_t CSimWaveApi::AddCaptureDevice(std::string name, SignalFn signal, bool failsToOpen) {
    m_inputs.push_back({std::move(name), std::move(signal), {}, failsToOpen});
    return static_cast<uint32_t>(m_inputs.size() - 1);
}

uint32_t CSimWaveApi::AddPlaybackDevice(std::string name, bool failsToOpen) {
    m_outputs.push_back({std::move(name), {}, {}, failsToOpen});
    return static_cast<uint32_t>(m_outputs.size() - 1);
}

void CSimWaveApi::SetOutputSink(uint32_t device, OutputSink sink) {
    m_outputs.at(device).sink = std::move(sink);
}

void CSimWaveApi::SetDeviceClock(bool capture, uint32_t device, double ppm) {
    (capture ? m_inputs : m_outputs).at(device).clock = 1.0 + ppm * 1e-6;
}

void CSimWaveApi::SetNotificationJitter(uint64_t maxFrames, uint32_t seed) {
    m_jitter = maxFrames;
    m_random.seed(seed);
}

void CSimWaveApi::FailNext(const std::string& call, MMRESULT code) { m_failNext[call] = code; }

bool CSimWaveApi::Enter(const char* call, MMRESULT* injected, const WAVEHDR* header) {
    if (m_logCalls)
        m_calls.push_back(header ? std::string(call) + " " + std::to_string(header->dwUser) : call);
    auto it = m_failNext.find(call);
    if (it == m_failNext.end()) return false;
    *injected = it->second;
    m_failNext.erase(it);
    return true;
}

size_t CSimWaveApi::QueuedBuffers() const {
    size_t n = 0;
    for (const auto& [h, s] : m_streams) n += s.queue.size();
    return n;
}

CSimWaveApi::Stream* CSimWaveApi::Find(bool capture, uintptr_t handle) {
    auto it = m_streams.find(handle);
    if (it == m_streams.end() || it->second.capture != capture) return nullptr;
    return &it->second;
}

uint32_t CSimWaveApi::FramesOf(const Stream& s, const WAVEHDR& h) {
    return h.dwBufferLength / s.format.nBlockAlign;
}

// ---- time -------------------------------------------------------------

std::optional<uint64_t> CSimWaveApi::NextEventTime() const {
    std::optional<uint64_t> next;
    auto consider = [&](uint64_t t) {
        if (!next || t < *next) next = t;
    };
    for (const auto& [h, s] : m_streams) {
        if (!s.running || s.queue.empty()) continue;
        const uint32_t left = FramesOf(s, *s.queue.front()) - s.headFrames;
        consider(left == 0 ? m_now : std::max(m_now + 1, s.TimeOfFrame(s.done + left)));
    }
    if (!m_posts.empty()) consider(std::max(m_posts.front().due, m_now));
    return next;
}

void CSimWaveApi::AdvanceTo(uint64_t t) {
    if (t < m_now) return;
    for (;;) {
        const auto next = NextEventTime();
        const uint64_t step = next && *next < t ? *next : t;
        StreamUntil(step);
        if (m_follower && m_now >= m_nextReading) TakeClockReadings();
        DeliverDuePosts();
        if (step == t) break;
    }
}

void CSimWaveApi::StreamUntil(uint64_t t) {
    const uint64_t from = m_now;
    for (auto& [handle, s] : m_streams) StreamOne(handle, s, from, t);
    m_now = t;
}

void CSimWaveApi::StreamOne(uintptr_t handle, Stream& s, uint64_t from, uint64_t t) {
    uint64_t at = from;
    while (s.running) {
        // Empty buffers complete the moment they are reached.
        while (!s.queue.empty() && s.headFrames == FramesOf(s, *s.queue.front())) Complete(handle, s, at);
        if (at >= t) break;
        OutputSink* sink = s.capture ? nullptr : &m_outputs[s.device].sink;
        if (!s.capture && at >= m_stallFrom && at < m_stallEnd) {
            // Its clock stands still until the stall ends.
            const uint64_t end = std::min(t, m_stallEnd);
            if (*sink) (*sink)(at, nullptr, static_cast<uint32_t>(end - at), s.format.nChannels);
            s.Rebase(at, s.rate);
            s.t0 = std::max(s.t0, end);
            at = end;
            continue;
        }
        const uint64_t until = !s.capture && at < m_stallFrom ? std::min(t, m_stallFrom) : t;
        const uint64_t due = s.DueBy(until);
        if (due <= s.done) {
            at = until;
            continue;
        }
        if (s.queue.empty()) {
            const uint64_t n = due - s.done;
            if (s.capture) {
                m_overrun += n;
            } else {
                m_underrun += n;
                if (*sink) (*sink)(at, nullptr, static_cast<uint32_t>(n), s.format.nChannels);
            }
            s.done = due;
            at = until;
            continue;
        }
        WAVEHDR& h = *s.queue.front();
        const uint32_t left = FramesOf(s, h) - s.headFrames;
        const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(left, due - s.done));
        auto* samples = reinterpret_cast<int16_t*>(h.lpData + s.headFrames * s.format.nBlockAlign);
        if (s.capture) {
            // Asked for by the device's own frame count.
            m_scratch.resize(static_cast<size_t>(take) * s.format.nChannels);
            m_inputs[s.device].signal(s.done, take, s.format.nChannels, m_scratch.data());
            std::memcpy(samples, m_scratch.data(), m_scratch.size() * sizeof(int16_t));
        } else {
            if (*sink) (*sink)(at, samples, take, s.format.nChannels);
            s.used += take;
        }
        s.headFrames += take;
        s.done += take;
        at = take == left ? std::clamp(s.TimeOfFrame(s.done), at, until) : until;
    }
}

// The readings the Linux layer takes of both streams, exact here, and the
// follower's factor applied to playback from now on.
void CSimWaveApi::TakeClockReadings() {
    const double t = static_cast<double>(m_now) / m_rate;
    for (const auto& [h, s] : m_streams) {
        if (!s.running) continue;
        if (s.capture) {
            const double frames = static_cast<double>(s.done - s.began);
            m_follower->AddCapture(t, t - frames / m_rate);
        } else {
            m_follower->AddPlayback(t, 0.0, static_cast<double>(s.used));
        }
    }
    const double factor = m_follower->Update(t);
    for (auto& [h, s] : m_streams)
        if (!s.capture && s.running) s.Rebase(m_now, m_outputs[s.device].clock * factor);
    m_nextReading = m_now + m_rate / 2;
}

void CSimWaveApi::Complete(uintptr_t handle, Stream& s, uint64_t when) {
    WAVEHDR* h = s.queue.front();
    s.queue.pop_front();
    h->dwBytesRecorded = s.capture ? s.headFrames * s.format.nBlockAlign : h->dwBytesRecorded;
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    s.headFrames = 0;
    PostMessage(s.window, s.capture ? MM_WIM_DATA : MM_WOM_DONE, handle, h, when);
}

void CSimWaveApi::PostMessage(IWaveWindow* window, uint32_t msg, uintptr_t handle, WAVEHDR* header,
                              uint64_t when) {
    if (window == nullptr) return;
    uint64_t due = when;
    if (m_jitter > 0) due += m_random() % (m_jitter + 1);
    uint64_t& last = m_lastDue[window];
    due = std::max(due, last);
    last = due;
    m_posts.push_back({due, window, msg, handle, header});
    if (due <= m_now) DeliverDuePosts();
}

void CSimWaveApi::DeliverDuePosts() {
    // Posts are due in order per window; across windows keep the post order.
    while (!m_posts.empty() && m_posts.front().due <= m_now) {
        Post p = m_posts.front();
        m_posts.pop_front();
        p.window->PostWaveMessage(p.msg, p.handle, p.header);
    }
}

// ---- shared device operations ------------------------------------------

MMRESULT CSimWaveApi::Open(bool capture, uintptr_t* handle, uint32_t id, const WAVEFORMATEX* f,
                           IWaveWindow* window, uint32_t flags) {
    const auto& devices = capture ? m_inputs : m_outputs;
    if (handle == nullptr || f == nullptr) return MMSYSERR_INVALPARAM;
    if (id == WAVE_MAPPER) {
        if (devices.empty()) return MMSYSERR_NODRIVER;
        id = 0;
    }
    if (id >= devices.size()) return MMSYSERR_BADDEVICEID;
    if ((flags & CALLBACK_WINDOW) && window == nullptr) return MMSYSERR_INVALPARAM;
    if (f->wFormatTag != WAVE_FORMAT_PCM || f->nSamplesPerSec != m_rate || f->wBitsPerSample != 16 ||
        f->nChannels < 1 || f->nChannels > 2 || f->nBlockAlign != f->nChannels * 2)
        return WAVERR_BADFORMAT;
    if (devices[id].failsToOpen) return MMSYSERR_ALLOCATED;
    const uintptr_t h = m_nextHandle++;
    Stream& s = m_streams[h];
    s.capture = capture;
    s.device = id;
    s.format = *f;
    s.window = (flags & CALLBACK_WINDOW) ? window : nullptr;
    *handle = h;
    PostMessage(s.window, capture ? MM_WIM_OPEN : MM_WOM_OPEN, h, nullptr, m_now);
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveApi::Close(bool capture, uintptr_t handle) {
    Stream* s = Find(capture, handle);
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    if (!s->queue.empty()) return WAVERR_STILLPLAYING;
    PostMessage(s->window, capture ? MM_WIM_CLOSE : MM_WOM_CLOSE, handle, nullptr, m_now);
    m_streams.erase(handle);
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveApi::Prepare(bool capture, uintptr_t handle, WAVEHDR* h, uint32_t cbwh, bool prepare) {
    if (Find(capture, handle) == nullptr) return MMSYSERR_INVALHANDLE;
    if (h == nullptr || cbwh < sizeof(WAVEHDR) || (prepare && h->lpData == nullptr))
        return MMSYSERR_INVALPARAM;
    if (h->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (prepare)
        h->dwFlags |= WHDR_PREPARED;
    else
        h->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveApi::Queue(bool capture, uintptr_t handle, WAVEHDR* h, uint32_t cbwh) {
    Stream* s = Find(capture, handle);
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    if (h == nullptr || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(h->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (h->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    h->dwFlags = (h->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    if (capture) h->dwBytesRecorded = 0;
    if (!capture && s->queue.empty() && m_follower) m_follower->Restart();  // a run starts
    s->queue.push_back(h);
    if (!capture && !s->running) {  // playback begins with the first write
        s->running = true;
        s->Begin(m_now, m_outputs[s->device].clock * PlaybackFactor());
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveApi::Reset(bool capture, uintptr_t handle) {
    Stream* s = Find(capture, handle);
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    s->running = false;
    while (!s->queue.empty()) Complete(handle, *s, m_now);
    return MMSYSERR_NOERROR;
}

// ---- IWaveApi ----------------------------------------------------------

#define SIM_ENTER(name, header)              \
    MMRESULT injected_ = 0;                  \
    if (Enter(name, &injected_, header)) return injected_

uint32_t CSimWaveApi::waveInGetNumDevs() {
    if (m_logCalls) m_calls.emplace_back("waveInGetNumDevs");
    return static_cast<uint32_t>(m_inputs.size());
}

MMRESULT CSimWaveApi::waveInGetDevName(uint32_t id, std::string* name) {
    SIM_ENTER("waveInGetDevName", nullptr);
    if (id == WAVE_MAPPER && !m_inputs.empty()) id = 0;  // the device the mapper opens
    if (id >= m_inputs.size()) return MMSYSERR_BADDEVICEID;
    *name = m_inputs[id].name;
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveApi::waveInOpen(HWAVEIN* phwi, uint32_t id, const WAVEFORMATEX* pwfx,
                                 IWaveWindow* window, uintptr_t, uint32_t flags) {
    SIM_ENTER("waveInOpen", nullptr);
    uintptr_t h = 0;
    const MMRESULT r = Open(true, &h, id, pwfx, window, flags);
    if (r == MMSYSERR_NOERROR) *phwi = reinterpret_cast<HWAVEIN>(h);
    return r;
}

MMRESULT CSimWaveApi::waveInClose(HWAVEIN hwi) {
    SIM_ENTER("waveInClose", nullptr);
    return Close(true, reinterpret_cast<uintptr_t>(hwi));
}

MMRESULT CSimWaveApi::waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    SIM_ENTER("waveInPrepareHeader", pwh);
    return Prepare(true, reinterpret_cast<uintptr_t>(hwi), pwh, cbwh, true);
}

MMRESULT CSimWaveApi::waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    SIM_ENTER("waveInUnprepareHeader", pwh);
    return Prepare(true, reinterpret_cast<uintptr_t>(hwi), pwh, cbwh, false);
}

MMRESULT CSimWaveApi::waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    SIM_ENTER("waveInAddBuffer", pwh);
    return Queue(true, reinterpret_cast<uintptr_t>(hwi), pwh, cbwh);
}

MMRESULT CSimWaveApi::waveInStart(HWAVEIN hwi) {
    SIM_ENTER("waveInStart", nullptr);
    Stream* s = Find(true, reinterpret_cast<uintptr_t>(hwi));
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    if (!s->running) {
        s->running = true;
        s->Begin(m_now, m_inputs[s->device].clock);
        if (m_follower) m_follower->ForgetCapture();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveApi::waveInStop(HWAVEIN hwi) {
    SIM_ENTER("waveInStop", nullptr);
    const auto handle = reinterpret_cast<uintptr_t>(hwi);
    Stream* s = Find(true, handle);
    if (s == nullptr) return MMSYSERR_INVALHANDLE;
    s->running = false;
    // The buffer being filled comes back with what it holds; the rest wait.
    if (!s->queue.empty() && s->headFrames > 0) Complete(handle, *s, m_now);
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveApi::waveInReset(HWAVEIN hwi) {
    SIM_ENTER("waveInReset", nullptr);
    return Reset(true, reinterpret_cast<uintptr_t>(hwi));
}

uint32_t CSimWaveApi::waveOutGetNumDevs() {
    if (m_logCalls) m_calls.emplace_back("waveOutGetNumDevs");
    return static_cast<uint32_t>(m_outputs.size());
}

MMRESULT CSimWaveApi::waveOutGetDevName(uint32_t id, std::string* name) {
    SIM_ENTER("waveOutGetDevName", nullptr);
    if (id == WAVE_MAPPER && !m_outputs.empty()) id = 0;
    if (id >= m_outputs.size()) return MMSYSERR_BADDEVICEID;
    *name = m_outputs[id].name;
    return MMSYSERR_NOERROR;
}

MMRESULT CSimWaveApi::waveOutOpen(HWAVEOUT* phwo, uint32_t id, const WAVEFORMATEX* pwfx,
                                  IWaveWindow* window, uintptr_t, uint32_t flags) {
    SIM_ENTER("waveOutOpen", nullptr);
    uintptr_t h = 0;
    const MMRESULT r = Open(false, &h, id, pwfx, window, flags);
    if (r == MMSYSERR_NOERROR) *phwo = reinterpret_cast<HWAVEOUT>(h);
    if (r == MMSYSERR_NOERROR && m_follow) {
        m_follower.emplace(m_rate);
        m_nextReading = m_now;
    }
    return r;
}

MMRESULT CSimWaveApi::waveOutClose(HWAVEOUT hwo) {
    SIM_ENTER("waveOutClose", nullptr);
    return Close(false, reinterpret_cast<uintptr_t>(hwo));
}

MMRESULT CSimWaveApi::waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    SIM_ENTER("waveOutPrepareHeader", pwh);
    return Prepare(false, reinterpret_cast<uintptr_t>(hwo), pwh, cbwh, true);
}

MMRESULT CSimWaveApi::waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    SIM_ENTER("waveOutUnprepareHeader", pwh);
    return Prepare(false, reinterpret_cast<uintptr_t>(hwo), pwh, cbwh, false);
}

MMRESULT CSimWaveApi::waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    SIM_ENTER("waveOutWrite", pwh);
    return Queue(false, reinterpret_cast<uintptr_t>(hwo), pwh, cbwh);
}

MMRESULT CSimWaveApi::waveOutReset(HWAVEOUT hwo) {
    SIM_ENTER("waveOutReset", nullptr);
    return Reset(false, reinterpret_cast<uintptr_t>(hwo));
}

MMRESULT CSimWaveApi::waveOutGetErrorTextA(MMRESULT code, char* text, uint32_t cch) {
    if (m_logCalls) m_calls.emplace_back("waveOutGetErrorTextA");
    if (text == nullptr || cch == 0) return MMSYSERR_INVALPARAM;
    std::strncpy(text, WaveResultText(code), cch - 1);
    text[cch - 1] = '\0';
    return MMSYSERR_NOERROR;
}

}  // namespace morvane::sim
