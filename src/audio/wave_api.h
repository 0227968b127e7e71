#pragma once
// The wave device interface as the wrappers and the engine see it: the
// semantics, structures and result codes of the Windows wave API, behind one
// abstract seam. Implementations: the real API on Windows, our PulseAudio
// layer on Linux, and a deterministic simulator for tests and benchmarks.
//
// Constants are macros (guarded) so that this header coexists with the
// platform's own headers, which define the same names with the same values.

#include <cstddef>
#include <cstdint>
#include <string>

#ifndef MMSYSERR_NOERROR
#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_NOTENABLED 3
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#endif
#ifndef WAVERR_BADFORMAT
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34
#endif

#ifndef WHDR_DONE
#define WHDR_DONE 0x00000001u
#define WHDR_PREPARED 0x00000002u
#define WHDR_BEGINLOOP 0x00000004u
#define WHDR_ENDLOOP 0x00000008u
#define WHDR_INQUEUE 0x00000010u
#endif

#ifndef MM_WOM_OPEN
#define MM_WOM_OPEN 0x3BB
#define MM_WOM_CLOSE 0x3BC
#define MM_WOM_DONE 0x3BD
#define MM_WIM_OPEN 0x3BE
#define MM_WIM_CLOSE 0x3BF
#define MM_WIM_DATA 0x3C0
#endif

#ifndef CALLBACK_WINDOW
#define CALLBACK_NULL 0x00000000u
#define CALLBACK_WINDOW 0x00010000u
#endif

#ifndef WAVE_FORMAT_PCM
#define WAVE_FORMAT_PCM 1
#endif

#ifndef WAVE_MAPPER
#define WAVE_MAPPER (static_cast<uint32_t>(-1))
#endif

namespace morvane {

using MMRESULT = uint32_t;

// Same field order and widths as the platform's structures.
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};

struct WAVEHDR {
    char* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;
    uintptr_t dwUser;
    uint32_t dwFlags;
    uint32_t dwLoops;
    WAVEHDR* lpNext;
    uintptr_t reserved;
};

struct HWAVEIN__;
struct HWAVEOUT__;
using HWAVEIN = HWAVEIN__*;
using HWAVEOUT = HWAVEOUT__*;

// Promises every implementation keeps, as the platform does:
// - capture fills queued buffers strictly in queue order; playback plays
//   written buffers strictly in order;
// - before a header is posted back its WHDR_DONE flag is set and WHDR_INQUEUE
//   cleared (dwBytesRecorded holds what was captured);
// - reset stops the device at once and has posted every queued header back,
//   in queue order, before it returns;
// - closing a device that still has queued buffers fails with
//   WAVERR_STILLPLAYING; calls on a closed (null) handle with
//   MMSYSERR_INVALHANDLE.
//
// Where a device opened with CALLBACK_WINDOW posts MM_WIM_* / MM_WOM_*.
// PostWaveMessage may be called from any thread; the implementation must
// deliver the messages on the UI thread, in the order they were posted.
// wParam is the device handle, lParam the header (null for OPEN/CLOSE).
class IWaveWindow {
public:
    virtual void PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) = 0;

protected:
    ~IWaveWindow() = default;
};

// One method per wave API call that the program makes. Device names are
// returned whole (the platform's capability records cut them at 31 bytes).
class IWaveApi {
public:
    virtual ~IWaveApi() = default;

    virtual uint32_t waveInGetNumDevs() = 0;
    virtual MMRESULT waveInGetDevName(uint32_t uDeviceID, std::string* name) = 0;
    virtual MMRESULT waveInOpen(HWAVEIN* phwi, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                                IWaveWindow* window, uintptr_t dwInstance, uint32_t fdwOpen) = 0;
    virtual MMRESULT waveInClose(HWAVEIN hwi) = 0;
    virtual MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT waveInStart(HWAVEIN hwi) = 0;
    virtual MMRESULT waveInStop(HWAVEIN hwi) = 0;
    virtual MMRESULT waveInReset(HWAVEIN hwi) = 0;

    virtual uint32_t waveOutGetNumDevs() = 0;
    virtual MMRESULT waveOutGetDevName(uint32_t uDeviceID, std::string* name) = 0;
    virtual MMRESULT waveOutOpen(HWAVEOUT* phwo, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                                 IWaveWindow* window, uintptr_t dwInstance, uint32_t fdwOpen) = 0;
    virtual MMRESULT waveOutClose(HWAVEOUT hwo) = 0;
    virtual MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT waveOutReset(HWAVEOUT hwo) = 0;

    // Text for a result code, at most cchText - 1 characters and a NUL.
    virtual MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, char* pszText, uint32_t cchText) = 0;
};

// The wave API's own texts for its result codes; implementations without
// texts of their own answer waveOutGetErrorTextA from this.
const char* WaveResultText(MMRESULT code);
// That text into the caller's buffer, as waveOutGetErrorTextA answers.
MMRESULT CopyWaveResultText(MMRESULT code, char* text, uint32_t cchText);

}  // namespace morvane
