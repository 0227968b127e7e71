#pragma once
// The wave device interface on Linux, over the PipeWire client library:
// where a PipeWire server runs, Morvane talks to it natively, so that the
// graph's own timing lines capture and playback up exactly.
//
// Devices and their order are those the same system shows through its
// PulseAudio protocol server (see pw_devices.h); an id beyond a list, or
// WAVE_MAPPER, opens the server's default device. Each open device is one
// stream in the graph (pw_capture.h, pw_playback.h); the connection and the
// device lists are in pw_connection.h.

#include <memory>
#include <set>
#include <string>

#include "audio/pipewire/pw_connection.h"
#include "audio/pipewire/pw_stream.h"
#include "audio/wave_api.h"

namespace morvane {

class CPwCapture;
class CPwPlayback;

class CPipeWireWaveApi : public IWaveApi {
public:
    // remote: a server socket name; empty for the default.
    explicit CPipeWireWaveApi(std::string remote = {});
    ~CPipeWireWaveApi() override;
    CPipeWireWaveApi(const CPipeWireWaveApi&) = delete;
    CPipeWireWaveApi& operator=(const CPipeWireWaveApi&) = delete;

    // Connects now: whether a PipeWire server answers.
    bool Connect();

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

    // How far the last playback run was started into its first buffer to
    // line it up with capture, in microseconds (for figures and tests).
    int64_t LastPlaybackCompensationUsec(HWAVEOUT hwo);

private:
    CPwStream* Find(const void* handle, bool capture);
    uint32_t Count(bool capture);
    MMRESULT Name(bool capture, uint32_t id, std::string* name);
    MMRESULT Open(bool capture, void** handle, uint32_t id, const WAVEFORMATEX* format, IWaveWindow* window,
                  uint32_t flags);
    MMRESULT Close(bool capture, void* handle);
    MMRESULT Prepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh);
    MMRESULT Unprepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh);
    MMRESULT Queue(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh);
    MMRESULT Reset(bool capture, void* handle);
    void Destroy(CPwStream* s);

    CPwConnection m_connection;
    // Guards the set and every stream's queues (see pw_stream.h).
    PwShared m_shared;
    std::set<CPwStream*> m_streams;
};

}  // namespace morvane
