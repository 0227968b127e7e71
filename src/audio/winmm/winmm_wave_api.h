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
// Closing a device that still holds buffers fails with WAVERR_STILLPLAYING,
// as the platform answers; Wine's wave layer would close it and never hand
// the buffers back, so the layer checks this itself.

#include <map>
#include <mutex>

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

private:
    // Buffers complete in queue order: a device holds buffers exactly while
    // the last one queued on it is still in the queue.
    void Queued(const void* device, WAVEHDR* pwh);
    void Unprepared(const void* device, const WAVEHDR* pwh);
    bool HoldsBuffers(const void* device);
    void Forget(const void* device);

    std::mutex m_mutex;
    std::map<const void*, WAVEHDR*> m_lastQueued;
};

}  // namespace morvane
