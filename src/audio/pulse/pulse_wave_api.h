#pragma once
// The wave device interface on Linux, over the PulseAudio client library.
//
// One main loop on a thread of its own (the audio thread) per object. The
// audio thread only moves samples between the server and the queued headers
// and posts completions to the device's window; every other piece of work
// happens on the calling (UI) thread under the loop's lock.
//
// Devices: capture devices are the server's sources, monitors of sinks
// included; playback devices are its sinks (see CPulseDeviceList). An id
// beyond a list, or WAVE_MAPPER, opens the server's default device.
//
// The connection is made lazily by the first query and made again by a later
// one after the server went away: an open always tries, count and name
// queries at most every 250 ms, so that polling them stays cheap (see
// CPulseContext).
//
// This class checks each call and hands it to its owner: the device list,
// or the stream (CPulseCapture, CPulsePlayback; see CPulseStreamSet for what
// they share).

#include <cstdint>
#include <string>

#include "audio/pulse/pulse_context.h"
#include "audio/pulse/pulse_device_list.h"
#include "audio/pulse/pulse_stream_set.h"
#include "audio/wave_api_by_direction.h"

namespace morvane {

class CPulseWaveApi : public CWaveApiByDirection {
public:
    // Capture completes a buffer at most about this long after its last
    // sample (sooner when the source hands data out more often); a delay of
    // 0.2 s or more keeps a buffer in reserve, so this leaves it half.
    static constexpr uint32_t kCaptureFragmentMs = 50;
    // What a playback stream keeps in the server; the rest waits on our side.
    // Less than 100 ms dropped out under load on a two-core machine. The
    // server asks for more once a buffer's worth has played, and every
    // wake-up of the audio thread tops it up to the target as well.
    static constexpr uint32_t kPlaybackTargetMs = 250;
    static constexpr uint32_t kPlaybackRequestMs = 100;
    // How the audio thread spaces its wake-ups (see CPulseLoop): it takes the
    // server's messages when a captured buffer should be full, this long after
    // its last sample is due, and at least this often while devices are open;
    // a played buffer is handed back at the next wake-up after it was heard,
    // at most kPlayedSlackMs late.
    static constexpr uint32_t kCaptureSlackMs = 15;
    static constexpr uint32_t kLookIntervalMs = 100;
    static constexpr uint32_t kPlayedSlackMs = 50;

    // server: a server address as libpulse takes it; empty for its default
    // (PULSE_SERVER, client.conf, the user's runtime directory).
    explicit CPulseWaveApi(std::string server = {});
    ~CPulseWaveApi() override;
    CPulseWaveApi(const CPulseWaveApi&) = delete;
    CPulseWaveApi& operator=(const CPulseWaveApi&) = delete;

    MMRESULT waveInStart(HWAVEIN hwi) override;
    MMRESULT waveInStop(HWAVEIN hwi) override;

    // How far the last playback run was started into its first buffer to make
    // up for the server's latencies, in microseconds (for figures and tests).
    int64_t LastPlaybackCompensationUsec(HWAVEOUT hwo);

private:
    class Lock;

    uint32_t Count(bool capture) override;
    MMRESULT Name(bool capture, uint32_t id, std::string* name) override;
    MMRESULT Open(bool capture, void** handle, uint32_t id, const WAVEFORMATEX* format,
                  IWaveWindow* window, uint32_t flags) override;
    MMRESULT Close(bool capture, void* handle) override;
    MMRESULT Prepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT Unprepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT Queue(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT Reset(bool capture, void* handle) override;

    // The context owns the audio thread: it starts once the streams exist
    // (its planner looks at them) and stops before they go.
    CPulseContext m_context;
    CPulseDeviceList m_devices;
    CPulseStreamSet m_streams;
};

}  // namespace morvane
