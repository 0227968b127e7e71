// The platform's headers come first: they define the wave constants that
// audio/wave_api.h only supplies where they are missing.
#include <windows.h>
#include <mmsystem.h>

#include "audio/winmm/winmm_wave_api.h"

#include <atomic>
#include <cwchar>
#include <string>

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
    return OpenDevice<HWAVEIN, ::HWAVEIN>(::waveInOpen, phwi, uDeviceID, pwfx, window, fdwOpen);
}

MMRESULT CWinmmWaveApi::waveInClose(HWAVEIN hwi) {
    if (HoldsBuffers(hwi)) return WAVERR_STILLPLAYING;
    const MMRESULT r = ::waveInClose(Platform(hwi));
    if (r == MMSYSERR_NOERROR) Forget(hwi);
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

MMRESULT CWinmmWaveApi::waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) {
    const MMRESULT r = ::waveInAddBuffer(Platform(hwi), Platform(pwh), cbwh);
    if (r == MMSYSERR_NOERROR) Queued(hwi, pwh);
    return r;
}

MMRESULT CWinmmWaveApi::waveInStart(HWAVEIN hwi) { return ::waveInStart(Platform(hwi)); }

MMRESULT CWinmmWaveApi::waveInStop(HWAVEIN hwi) { return ::waveInStop(Platform(hwi)); }

MMRESULT CWinmmWaveApi::waveInReset(HWAVEIN hwi) { return ::waveInReset(Platform(hwi)); }

uint32_t CWinmmWaveApi::waveOutGetNumDevs() { return ::waveOutGetNumDevs(); }

MMRESULT CWinmmWaveApi::waveOutGetDevName(uint32_t uDeviceID, std::string* name) {
    return DeviceName<WAVEOUTCAPSW>(::waveOutGetDevCapsW, uDeviceID, name);
}

MMRESULT CWinmmWaveApi::waveOutOpen(HWAVEOUT* phwo, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                                    IWaveWindow* window, uintptr_t, uint32_t fdwOpen) {
    return OpenDevice<HWAVEOUT, ::HWAVEOUT>(::waveOutOpen, phwo, uDeviceID, pwfx, window, fdwOpen);
}

MMRESULT CWinmmWaveApi::waveOutClose(HWAVEOUT hwo) {
    if (HoldsBuffers(hwo)) return WAVERR_STILLPLAYING;
    const MMRESULT r = ::waveOutClose(Platform(hwo));
    if (r == MMSYSERR_NOERROR) Forget(hwo);
    return r;
}

MMRESULT CWinmmWaveApi::waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    return ::waveOutPrepareHeader(Platform(hwo), Platform(pwh), cbwh);
}

MMRESULT CWinmmWaveApi::waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    const MMRESULT r = ::waveOutUnprepareHeader(Platform(hwo), Platform(pwh), cbwh);
    if (r == MMSYSERR_NOERROR) Unprepared(hwo, pwh);
    return r;
}

MMRESULT CWinmmWaveApi::waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
    const MMRESULT r = ::waveOutWrite(Platform(hwo), Platform(pwh), cbwh);
    if (r == MMSYSERR_NOERROR) Queued(hwo, pwh);
    return r;
}

MMRESULT CWinmmWaveApi::waveOutReset(HWAVEOUT hwo) { return ::waveOutReset(Platform(hwo)); }

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
