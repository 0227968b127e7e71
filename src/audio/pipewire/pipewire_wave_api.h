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
#include "audio/wave_api_by_direction.h"

namespace morvane {

class CPwCapture;
class CPwPlayback;

class CPipeWireWaveApi : public CWaveApiByDirection {
public:
    // remote: a server socket name; empty for the default.
    explicit CPipeWireWaveApi(std::string remote = {});
    ~CPipeWireWaveApi() override;
    CPipeWireWaveApi(const CPipeWireWaveApi&) = delete;
    CPipeWireWaveApi& operator=(const CPipeWireWaveApi&) = delete;

    // Connects now: whether a PipeWire server answers.
    bool Connect();

    MMRESULT waveInStart(HWAVEIN hwi) override;
    MMRESULT waveInStop(HWAVEIN hwi) override;

    // How far the last playback run was started into its first buffer to
    // line it up with capture, in microseconds (for figures and tests).
    int64_t LastPlaybackCompensationUsec(HWAVEOUT hwo);

private:
    CPwStream* Find(const void* handle, bool capture);
    uint32_t Count(bool capture) override;
    MMRESULT Name(bool capture, uint32_t id, std::string* name) override;
    MMRESULT Open(bool capture, void** handle, uint32_t id, const WAVEFORMATEX* format, IWaveWindow* window,
                  uint32_t flags) override;
    MMRESULT Close(bool capture, void* handle) override;
    MMRESULT Prepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT Unprepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT Queue(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT Reset(bool capture, void* handle) override;
    void Destroy(CPwStream* s);

    CPwConnection m_connection;
    // Guards the set and every stream's queues (see pw_stream.h).
    PwShared m_shared;
    std::set<CPwStream*> m_streams;
};

}  // namespace morvane
