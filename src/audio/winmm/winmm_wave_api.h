#pragma once
// The wave device interface on Windows: the platform's own wave API.
//
// Headers, handles and result codes are the platform's (see
// winmm_layout.cpp), so almost every call goes straight through. Devices are
// opened with CALLBACK_WINDOW: a window that is an IWin32WaveWindow gets the
// platform's messages in its own queue; any other IWaveWindow gets them
// through PostWaveMessage, called on the platform's callback thread.
//
// Device names come from the capability records (at most 31 characters)
// and, like the error texts, are UTF-8.
//
// A playback run is lined up against capture. The delay line writes a run
// as a captured buffer comes back, meaning its first sample to be heard
// where that buffer ended; but capture's notices come late, and in bursts
// (under Wine by up to 130 ms). How late is read from capture's position as
// each returned buffer goes back on its queue: the earliest placement among
// those readings is capture's time line, and what a run's start is late by
// is left out of its first buffers (at most 1 s; never early). Later in the
// run, a gap in the output (the platform's feeder held up, silence played in
// between) is read from the output's position at each write and left out of
// the buffers that follow (see audio/output_time_line.h).
//
// Closing a device that still holds buffers fails with WAVERR_STILLPLAYING,
// as the platform answers; Wine's wave layer would close it and never hand
// the buffers back, so the layer checks this itself.

#include <chrono>
#include <map>
#include <optional>
#include <mutex>

#include "audio/output_time_line.h"
#include "audio/wave_api.h"

namespace morvane {

class CWinmmWaveApi final : public IWaveApi {
public:
    uint32_t waveInGetNumDevs() override;
    MMRESULT waveInGetDevName(uint32_t uDeviceID, std::string* name) override;
    MMRESULT waveInOpen(HWAVEIN* phwi, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                        IWaveWindow* window, uintptr_t dwInstance, uint32_t fdwOpen) override;
    MMRESULT waveInClose(HWAVEIN hwi) override;
    MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveInStart(HWAVEIN hwi) override;
    MMRESULT waveInStop(HWAVEIN hwi) override;
    MMRESULT waveInReset(HWAVEIN hwi) override;

    uint32_t waveOutGetNumDevs() override;
    MMRESULT waveOutGetDevName(uint32_t uDeviceID, std::string* name) override;
    MMRESULT waveOutOpen(HWAVEOUT* phwo, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                         IWaveWindow* window, uintptr_t dwInstance, uint32_t fdwOpen) override;
    MMRESULT waveOutClose(HWAVEOUT hwo) override;
    MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveOutReset(HWAVEOUT hwo) override;

    MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, char* pszText, uint32_t cchText) override;

    // What the last run's start was late by and left out, in microseconds.
    int64_t LastRunSkipUsec(HWAVEOUT hwo);

private:
    using Clock = std::chrono::steady_clock;

    struct Capture {
        uint32_t bytesPerSec = 0;
        uint32_t blockAlign = 1;
        bool running = false;
        uint64_t startPos = 0;   // the device's position at start, bytes
        uint64_t completed = 0;  // bytes handed back since start
        std::optional<Clock::time_point> origin;  // when byte 0 was captured
        Clock::time_point lastCompletion;
    };
    struct Playback {
        uint32_t bytesPerSec = 0;
        uint32_t blockAlign = 1;
        bool runPending = true;  // the next write starts a run
        uint64_t skipLeft = 0;   // bytes still to leave out of what comes
        int64_t lastSkipUsec = 0;
        uint64_t written = 0;    // bytes of the run written (as shortened)
        uint64_t runPos = 0;     // the device's position at the run's start
        uint32_t lastRawPos = 0;  // its last reading, to follow a wrap
        uint64_t position = 0;
        std::optional<COutputTimeLine> line;
    };
    struct Whole {
        char* data;
        uint32_t length;
    };

    void NoteCaptureReturn(HWAVEIN hwi, const WAVEHDR* pwh);
    int64_t LatenessAgainstCapture(Clock::time_point now);
    uint32_t SkipFor(HWAVEOUT hwo, const WAVEHDR* pwh);
    std::optional<uint64_t> PlaybackPosition(HWAVEOUT hwo, Playback& p);
    bool Shift(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t bytes);
    void MakeWhole(HWAVEOUT hwo, WAVEHDR* pwh);

    // Buffers complete in queue order: a device holds buffers exactly while
    // the last one queued on it is still in the queue.
    void Queued(const void* device, WAVEHDR* pwh);
    void Unprepared(const void* device, const WAVEHDR* pwh);
    bool HoldsBuffers(const void* device);
    void Forget(const void* device);

    std::mutex m_mutex;
    std::map<const void*, WAVEHDR*> m_lastQueued;
    std::map<const void*, Capture> m_captures;
    std::map<const void*, Playback> m_playbacks;
    const void* m_latestCapture = nullptr;
    bool m_toldGap = false;
    // Headers whose start was left out, with what they held.
    std::map<const WAVEHDR*, Whole> m_shifted;
};

}  // namespace morvane
