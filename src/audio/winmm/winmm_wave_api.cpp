// The platform's headers come first: they define the wave constants that
// audio/wave_api.h only supplies where they are missing.
#include <windows.h>
#include <mmsystem.h>

#include "audio/winmm/winmm_wave_api.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cstdio>
#include <string>

#include "audio/run_line_up.h"
#include "audio/winmm/win32_wave_window.h"

namespace morvane {
namespace {

// Same layout: see winmm_layout.cpp.
::WAVEHDR* Platform(WAVEHDR* pwh) { return reinterpret_cast<::WAVEHDR*>(pwh); }
::HWAVEIN Platform(HWAVEIN h) { return reinterpret_cast<::HWAVEIN>(h); }
::HWAVEOUT Platform(HWAVEOUT h) { return reinterpret_cast<::HWAVEOUT>(h); }

std::string Utf8(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    const int wide = static_cast<int>(length);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, wide, out.data(), n, nullptr, nullptr);
    return out;
}

// For windows without an HWND of their own: the platform calls this on its
// own thread, and the window's PostWaveMessage takes the message to the UI
// thread (it may be called from any thread, and does no more than post).
void CALLBACK ForwardWaveMessage(HANDLE device, UINT msg, DWORD_PTR instance, DWORD_PTR header,
                                 DWORD_PTR) {
    reinterpret_cast<IWaveWindow*>(instance)->PostWaveMessage(
        msg, reinterpret_cast<uintptr_t>(device), reinterpret_cast<WAVEHDR*>(header));
}

struct Callback {
    DWORD_PTR target = 0;
    DWORD_PTR instance = 0;
    DWORD flags = CALLBACK_NULL;
};

// The seam knows only window notification (or none). Its dwInstance is not
// passed on: with CALLBACK_WINDOW the platform never hands it back.
MMRESULT CallbackFor(IWaveWindow* window, uint32_t fdwOpen, Callback* out) {
    if ((fdwOpen & ~static_cast<uint32_t>(CALLBACK_WINDOW)) != 0) return MMSYSERR_INVALFLAG;
    if ((fdwOpen & CALLBACK_WINDOW) == 0) return MMSYSERR_NOERROR;
    if (window == nullptr) return MMSYSERR_INVALPARAM;
    if (auto* native = dynamic_cast<IWin32WaveWindow*>(window)) {
        // The platform would take a null window as "no notices".
        if (native->Hwnd() == nullptr) return MMSYSERR_INVALPARAM;
        out->target = reinterpret_cast<DWORD_PTR>(native->Hwnd());
        out->flags = CALLBACK_WINDOW;
    } else {
        out->target = reinterpret_cast<DWORD_PTR>(&ForwardWaveMessage);
        out->instance = reinterpret_cast<DWORD_PTR>(window);
        out->flags = CALLBACK_FUNCTION;
    }
    return MMSYSERR_NOERROR;
}

// The platform's structure is packed to 18 bytes and may be followed by
// cbSize bytes of extra format data; ours has the same fields, padded, and
// no room for extra data. PCM takes none (its cbSize is ignored), so only
// other formats that claim extra data cannot be expressed.
MMRESULT PlatformFormat(const WAVEFORMATEX* in, ::WAVEFORMATEX* out) {
    if (in->wFormatTag != WAVE_FORMAT_PCM && in->cbSize != 0) return WAVERR_BADFORMAT;
    out->wFormatTag = in->wFormatTag;
    out->nChannels = in->nChannels;
    out->nSamplesPerSec = in->nSamplesPerSec;
    out->nAvgBytesPerSec = in->nAvgBytesPerSec;
    out->nBlockAlign = in->nBlockAlign;
    out->wBitsPerSample = in->wBitsPerSample;
    out->cbSize = in->cbSize;
    return MMSYSERR_NOERROR;
}

template <class Ours, class Theirs, class OpenFn>
MMRESULT OpenDevice(OpenFn open, Ours* phandle, uint32_t id, const WAVEFORMATEX* pwfx,
                    IWaveWindow* window, uint32_t fdwOpen) {
    Callback callback;
    if (const MMRESULT r = CallbackFor(window, fdwOpen, &callback); r != MMSYSERR_NOERROR) return r;
    ::WAVEFORMATEX format{};
    if (pwfx != nullptr) {
        if (const MMRESULT r = PlatformFormat(pwfx, &format); r != MMSYSERR_NOERROR) return r;
    }
    Theirs handle = phandle != nullptr ? reinterpret_cast<Theirs>(*phandle) : nullptr;
    const MMRESULT r = open(phandle != nullptr ? &handle : nullptr, id, pwfx != nullptr ? &format : nullptr,
                            callback.target, callback.instance, callback.flags);
    if (phandle != nullptr) *phandle = reinterpret_cast<Ours>(handle);
    return r;
}

// Where capture stands, in bytes since the device was opened or reset.
std::optional<uint64_t> CapturePosition(HWAVEIN hwi, uint32_t blockAlign) {
    MMTIME time{};
    time.wType = TIME_BYTES;
    if (::waveInGetPosition(Platform(hwi), &time, sizeof time) != MMSYSERR_NOERROR) return std::nullopt;
    if (time.wType == TIME_BYTES) return time.u.cb;
    if (time.wType == TIME_SAMPLES) return uint64_t{time.u.sample} * blockAlign;
    return std::nullopt;
}

int64_t BytesToUsec(uint64_t bytes, uint32_t bytesPerSec) {
    return bytesPerSec == 0 ? 0 : static_cast<int64_t>(bytes * 1000000 / bytesPerSec);
}

// Microseconds since the steady clock's epoch, as the line-up rule takes times.
int64_t Usec(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

template <class Caps, class CapsFn>
MMRESULT DeviceName(CapsFn getCaps, uint32_t id, std::string* name) {
    if (name == nullptr) return MMSYSERR_INVALPARAM;
    Caps caps{};
    const MMRESULT r = getCaps(id, &caps, sizeof caps);
    if (r == MMSYSERR_NOERROR) *name = Utf8(caps.szPname, ::wcsnlen(caps.szPname, MAXPNAMELEN));
    return r;
}

}  // namespace

void CWinmmWaveApi::Queued(const void* device, WAVEHDR* pwh) {
    std::lock_guard lock(m_mutex);
    m_lastQueued[device] = pwh;
}

// An unprepared header may be freed next: it must not be looked at later.
void CWinmmWaveApi::Unprepared(const void* device, const WAVEHDR* pwh) {
    std::lock_guard lock(m_mutex);
    const auto it = m_lastQueued.find(device);
    if (it != m_lastQueued.end() && it->second == pwh) m_lastQueued.erase(it);
}

bool CWinmmWaveApi::HoldsBuffers(const void* device) {
    std::lock_guard lock(m_mutex);
    const auto it = m_lastQueued.find(device);
    if (it == m_lastQueued.end()) return false;
    // The platform's thread clears the flag when it hands the buffer back.
    return (std::atomic_ref<uint32_t>(it->second->dwFlags).load() & WHDR_INQUEUE) != 0;
}

void CWinmmWaveApi::Forget(const void* device) {
    std::lock_guard lock(m_mutex);
    m_lastQueued.erase(device);
}

uint32_t CWinmmWaveApi::waveInGetNumDevs() { return ::waveInGetNumDevs(); }

MMRESULT CWinmmWaveApi::waveInGetDevName(uint32_t uDeviceID, std::string* name) {
    return DeviceName<WAVEINCAPSW>(::waveInGetDevCapsW, uDeviceID, name);
}

MMRESULT CWinmmWaveApi::waveInOpen(HWAVEIN* phwi, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                                   IWaveWindow* window, uintptr_t, uint32_t fdwOpen) {
    const MMRESULT r = OpenDevice<HWAVEIN, ::HWAVEIN>(::waveInOpen, phwi, uDeviceID, pwfx, window, fdwOpen);
    if (r == MMSYSERR_NOERROR && phwi != nullptr && pwfx != nullptr) {
        std::lock_guard lock(m_mutex);
        Capture& c = m_captures[*phwi];
        c = Capture{};
        c.bytesPerSec = pwfx->nAvgBytesPerSec;
        c.blockAlign = std::max<uint32_t>(pwfx->nBlockAlign, 1);
    }
    return r;
}

MMRESULT CWinmmWaveApi::waveInClose(HWAVEIN hwi) {
    if (HoldsBuffers(hwi)) return WAVERR_STILLPLAYING;
    const MMRESULT r = ::waveInClose(Platform(hwi));
    if (r == MMSYSERR_NOERROR) {
        Forget(hwi);
        std::lock_guard lock(m_mutex);
        m_captures.erase(hwi);
        if (m_latestCapture == hwi) m_latestCapture = nullptr;
    }
    return r;
}

MMRESULT CWinmmWaveApi::waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    return ::waveInPrepareHeader(Platform(hwi), Platform(pwh), cbwh);
}

MMRESULT CWinmmWaveApi::waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    const MMRESULT r = ::waveInUnprepareHeader(Platform(hwi), Platform(pwh), cbwh);
    if (r == MMSYSERR_NOERROR) Unprepared(hwi, pwh);
    return r;
}

// A buffer that capture handed back goes on the queue again: one more
// reading of where capture stands against the clock.
void CWinmmWaveApi::NoteCaptureReturn(HWAVEIN hwi, const WAVEHDR* pwh) {
    if (pwh == nullptr || (pwh->dwFlags & WHDR_DONE) == 0) return;
    std::lock_guard lock(m_mutex);
    const auto it = m_captures.find(hwi);
    if (it == m_captures.end() || !it->second.running) return;
    Capture& c = it->second;
    const Clock::time_point now = Clock::now();
    const std::optional<uint64_t> pos = CapturePosition(hwi, c.blockAlign);
    // A buffer handed back by a reset before this start holds nothing of it.
    if (!pos || *pos < c.startPos || *pos - c.startPos < c.completed + pwh->dwBytesRecorded ||
        pwh->dwBytesRecorded == 0)
        return;
    c.completed += pwh->dwBytesRecorded;
    c.lastCompletion = now;
    m_latestCapture = hwi;
    // Everything up to the position was captured by now: byte 0 no later
    // than this. A reading taken just as data arrived places it best. Byte 0
    // may be older than the start: after a reset, Wine's capture first hands
    // over what it held from before.
    const Clock::time_point origin =
        now - std::chrono::microseconds(BytesToUsec(*pos - c.startPos, c.bytesPerSec));
    c.origin = c.origin ? std::min(*c.origin, origin) : origin;
}

MMRESULT CWinmmWaveApi::waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    NoteCaptureReturn(hwi, pwh);
    const MMRESULT r = ::waveInAddBuffer(Platform(hwi), Platform(pwh), cbwh);
    if (r == MMSYSERR_NOERROR) Queued(hwi, pwh);
    return r;
}

MMRESULT CWinmmWaveApi::waveInStart(HWAVEIN hwi) {
    const MMRESULT r = ::waveInStart(Platform(hwi));
    if (r != MMSYSERR_NOERROR) return r;
    std::lock_guard lock(m_mutex);
    const auto it = m_captures.find(hwi);
    if (it != m_captures.end() && !it->second.running) {
        // A new time line: the position need not have gone back to 0.
        Capture& c = it->second;
        c.running = true;
        c.startPos = CapturePosition(hwi, c.blockAlign).value_or(0);
        c.completed = 0;
        c.origin.reset();
    }
    return r;
}

MMRESULT CWinmmWaveApi::waveInStop(HWAVEIN hwi) {
    const MMRESULT r = ::waveInStop(Platform(hwi));
    std::lock_guard lock(m_mutex);
    if (const auto it = m_captures.find(hwi); it != m_captures.end()) it->second.running = false;
    return r;
}

MMRESULT CWinmmWaveApi::waveInReset(HWAVEIN hwi) {
    const MMRESULT r = ::waveInReset(Platform(hwi));
    std::lock_guard lock(m_mutex);
    if (const auto it = m_captures.find(hwi); it != m_captures.end()) it->second.running = false;
    return r;
}

uint32_t CWinmmWaveApi::waveOutGetNumDevs() { return ::waveOutGetNumDevs(); }

MMRESULT CWinmmWaveApi::waveOutGetDevName(uint32_t uDeviceID, std::string* name) {
    return DeviceName<WAVEOUTCAPSW>(::waveOutGetDevCapsW, uDeviceID, name);
}

MMRESULT CWinmmWaveApi::waveOutOpen(HWAVEOUT* phwo, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                                    IWaveWindow* window, uintptr_t, uint32_t fdwOpen) {
    const MMRESULT r = OpenDevice<HWAVEOUT, ::HWAVEOUT>(::waveOutOpen, phwo, uDeviceID, pwfx, window, fdwOpen);
    if (r == MMSYSERR_NOERROR && phwo != nullptr && pwfx != nullptr) {
        std::lock_guard lock(m_mutex);
        Playback& p = m_playbacks[*phwo];
        p = Playback{};
        p.bytesPerSec = pwfx->nAvgBytesPerSec;
        p.blockAlign = std::max<uint32_t>(pwfx->nBlockAlign, 1);
    }
    return r;
}

MMRESULT CWinmmWaveApi::waveOutClose(HWAVEOUT hwo) {
    if (HoldsBuffers(hwo)) return WAVERR_STILLPLAYING;
    const MMRESULT r = ::waveOutClose(Platform(hwo));
    if (r == MMSYSERR_NOERROR) {
        Forget(hwo);
        std::lock_guard lock(m_mutex);
        m_playbacks.erase(hwo);
    }
    return r;
}

MMRESULT CWinmmWaveApi::waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    {
        // The caller has filled the header afresh.
        std::lock_guard lock(m_mutex);
        m_shifted.erase(pwh);
    }
    return ::waveOutPrepareHeader(Platform(hwo), Platform(pwh), cbwh);
}

MMRESULT CWinmmWaveApi::waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    const MMRESULT r = ::waveOutUnprepareHeader(Platform(hwo), Platform(pwh), cbwh);
    if (r == MMSYSERR_NOERROR) {
        Unprepared(hwo, pwh);
        // The caller gets its header back as it filled it.
        std::lock_guard lock(m_mutex);
        if (const auto it = m_shifted.find(pwh); it != m_shifted.end()) {
            pwh->lpData = it->second.data;
            pwh->dwBufferLength = it->second.length;
            m_shifted.erase(it);
        }
    }
    return r;
}

// How late a run that starts now is against capture's time line. That line
// is a bound from one side (byte 0 captured no later than its origin), so an
// early run starts as it is.
int64_t CWinmmWaveApi::LatenessAgainstCapture(Clock::time_point now) {
    std::optional<CaptureMark> mark;
    const auto it = m_captures.find(m_latestCapture);
    if (it != m_captures.end() && it->second.running && it->second.origin) {
        const Capture& c = it->second;
        const Clock::time_point end = *c.origin + std::chrono::microseconds(BytesToUsec(c.completed, c.bytesPerSec));
        mark = CaptureMark{Usec(end), Usec(c.lastCompletion)};
    }
    return RunLatenessUsec(Usec(now), mark, false);
}

// Where the device plays, in bytes since it opened or was reset, carried
// past the 32-bit wrap (every 6.7 hours at 44.1 kHz stereo).
std::optional<uint64_t> CWinmmWaveApi::PlaybackPosition(HWAVEOUT hwo, Playback& p) {
    ::MMTIME time{};
    time.wType = TIME_BYTES;
    if (::waveOutGetPosition(Platform(hwo), &time, sizeof time) != MMSYSERR_NOERROR) return std::nullopt;
    uint32_t raw = 0;
    if (time.wType == TIME_BYTES)
        raw = time.u.cb;
    else if (time.wType == TIME_SAMPLES)
        raw = time.u.sample * p.blockAlign;
    else
        return std::nullopt;
    p.position += static_cast<uint32_t>(raw - p.lastRawPos);
    p.lastRawPos = raw;
    return p.position;
}

// How much of this header's start to leave out: what the run's start is late
// by, and later what the device fell behind the run's time line, over the
// headers that come, each keeping at least one frame.
uint32_t CWinmmWaveApi::SkipFor(HWAVEOUT hwo, const WAVEHDR* pwh) {
    std::lock_guard lock(m_mutex);
    const auto it = m_playbacks.find(hwo);
    if (it == m_playbacks.end()) return 0;
    Playback& p = it->second;
    const Clock::time_point now = Clock::now();
    const int64_t nowUsec = Usec(now);
    const std::optional<uint64_t> pos = PlaybackPosition(hwo, p);
    if (p.runPending) {
        p.runPending = false;
        const int64_t late = LatenessAgainstCapture(now);
        p.skipLeft = static_cast<uint64_t>(late) * p.bytesPerSec / 1000000 / p.blockAlign * p.blockAlign;
        p.lastSkipUsec = BytesToUsec(p.skipLeft, p.bytesPerSec);
        p.written = 0;
        p.runPos = pos.value_or(0);
        p.line.emplace(p.bytesPerSec, p.blockAlign);
        p.line->Start(nowUsec);
    } else if (pos && p.line && *pos >= p.runPos) {
        if (const uint64_t behind = p.line->Reading(nowUsec, *pos - p.runPos, p.skipLeft); behind > 0) {
            p.skipLeft += behind;
            if (!m_toldGap) {
                m_toldGap = true;
                std::fputs(kOutputGapReport, stderr);
            }
        }
    }
    if (p.skipLeft == 0 || pwh->dwBufferLength <= p.blockAlign) return 0;
    const uint64_t room = (pwh->dwBufferLength - p.blockAlign) / p.blockAlign * p.blockAlign;
    const auto take = static_cast<uint32_t>(std::min(p.skipLeft, room));
    p.skipLeft -= take;
    if (p.line) p.line->LeftOut(p.written, take);
    return take;
}

// The header is prepared again over its shorter data, as the platform asks
// of a header whose data changes.
bool CWinmmWaveApi::Shift(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t bytes) {
    const bool prepared = (pwh->dwFlags & WHDR_PREPARED) != 0;
    if (prepared && ::waveOutUnprepareHeader(Platform(hwo), Platform(pwh), sizeof(::WAVEHDR)) != MMSYSERR_NOERROR)
        return false;
    const Whole whole{pwh->lpData, pwh->dwBufferLength};
    pwh->lpData += bytes;
    pwh->dwBufferLength -= bytes;
    if (prepared && ::waveOutPrepareHeader(Platform(hwo), Platform(pwh), sizeof(::WAVEHDR)) != MMSYSERR_NOERROR) {
        pwh->lpData = whole.data;
        pwh->dwBufferLength = whole.length;
        ::waveOutPrepareHeader(Platform(hwo), Platform(pwh), sizeof(::WAVEHDR));
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_shifted[pwh] = whole;
    return true;
}

// A header shortened for a run's start is whole again when written next.
void CWinmmWaveApi::MakeWhole(HWAVEOUT hwo, WAVEHDR* pwh) {
    Whole whole{};
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_shifted.find(pwh);
        if (it == m_shifted.end() || (pwh->dwFlags & WHDR_INQUEUE) != 0) return;
        whole = it->second;
    }
    const bool prepared = (pwh->dwFlags & WHDR_PREPARED) != 0;
    if (prepared && ::waveOutUnprepareHeader(Platform(hwo), Platform(pwh), sizeof(::WAVEHDR)) != MMSYSERR_NOERROR)
        return;
    pwh->lpData = whole.data;
    pwh->dwBufferLength = whole.length;
    {
        std::lock_guard lock(m_mutex);
        m_shifted.erase(pwh);
    }
    if (prepared) ::waveOutPrepareHeader(Platform(hwo), Platform(pwh), sizeof(::WAVEHDR));
}

MMRESULT CWinmmWaveApi::waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    if (pwh != nullptr && cbwh >= sizeof(::WAVEHDR)) {
        MakeWhole(hwo, pwh);
        if (const uint32_t skip = SkipFor(hwo, pwh); skip > 0) Shift(hwo, pwh, skip);
    }
    const MMRESULT r = ::waveOutWrite(Platform(hwo), Platform(pwh), cbwh);
    if (r == MMSYSERR_NOERROR) {
        Queued(hwo, pwh);
        std::lock_guard lock(m_mutex);
        if (const auto it = m_playbacks.find(hwo); it != m_playbacks.end()) it->second.written += pwh->dwBufferLength;
    }
    return r;
}

MMRESULT CWinmmWaveApi::waveOutReset(HWAVEOUT hwo) {
    const MMRESULT r = ::waveOutReset(Platform(hwo));
    std::lock_guard lock(m_mutex);
    if (const auto it = m_playbacks.find(hwo); it != m_playbacks.end()) {
        // The device's position starts again from 0.
        it->second.runPending = true;
        it->second.skipLeft = 0;
        it->second.lastRawPos = 0;
    }
    return r;
}

int64_t CWinmmWaveApi::LastRunSkipUsec(HWAVEOUT hwo) {
    std::lock_guard lock(m_mutex);
    const auto it = m_playbacks.find(hwo);
    return it != m_playbacks.end() ? it->second.lastSkipUsec : 0;
}

// The platform's text in UTF-8, cut where it must be at a character's start.
MMRESULT CWinmmWaveApi::waveOutGetErrorTextA(MMRESULT mmrError, char* pszText, uint32_t cchText) {
    wchar_t wide[MAXERRORLENGTH] = {};
    const MMRESULT r = ::waveOutGetErrorTextW(mmrError, wide, MAXERRORLENGTH);
    if (r != MMSYSERR_NOERROR) return r;
    if (pszText == nullptr) return MMSYSERR_INVALPARAM;
    if (cchText == 0) return MMSYSERR_NOERROR;
    const std::string text = Utf8(wide, ::wcsnlen(wide, MAXERRORLENGTH));
    size_t n = text.size();
    if (n > cchText - 1) {
        n = cchText - 1;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0u) == 0x80u) --n;
    }
    text.copy(pszText, n);
    pszText[n] = '\0';
    return MMSYSERR_NOERROR;
}

}  // namespace morvane
