#pragma once
// The wave device interface on Linux, over the PulseAudio client library.
//
// One main loop on a thread of its own (the audio thread) per object. The audio thread only
// moves samples between the server and the queued headers and posts
// completions to the device's window; every other piece of work happens on
// the calling (UI) thread under the loop's lock.
//
// Devices: capture devices are the server's sources, monitors of sinks
// included; playback devices are its sinks. Both lists are ordered by server
// index and named by description. An id beyond a list, or WAVE_MAPPER, opens
// the server's default device; WAVE_MAPPER's name is that device's. The lists are cached: server events mark them
// stale and the next count, name or open query fetches them again, so a count
// query in a loop costs no round trip.
//
// The connection is made lazily by the first query and made again by a later
// one after the server went away: an open always tries, count and name
// queries at most every 250 ms, so that polling them stays cheap.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "audio/clock_follower.h"
#include "audio/pulse/pulse_loop.h"
#include "audio/wave_api.h"

struct pa_context;
struct pa_operation;

namespace morvane {

class CPulseWaveApi : public IWaveApi {
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

    // How far the last playback run was started into its first buffer to make
    // up for the server's latencies, in microseconds (for figures and tests).
    int64_t LastPlaybackCompensationUsec(HWAVEOUT hwo);

    struct Device;  // one open stream; defined with the callbacks

private:
    using Clock = std::chrono::steady_clock;
    struct DeviceEntry {
        uint32_t index;
        std::string name;
        std::string description;
        // Which clock the device runs on: equal for devices that cannot
        // drift apart; empty when unknown.
        std::string clock;
    };
    class Lock;

    bool EnsureContext(bool eager);
    void DropContext();
    bool RefreshLists(bool eager);
    bool WaitUntil(bool (*done)(void*), void* arg, int timeoutMs);
    bool WaitOperation(pa_operation* op, int timeoutMs);
    Device* Find(const void* handle, bool capture) const;

    uint32_t Count(bool capture);
    MMRESULT Name(bool capture, uint32_t id, std::string* name);
    MMRESULT DefaultName(const std::vector<DeviceEntry>& list, bool capture, std::string* name);
    MMRESULT Open(bool capture, void** handle, uint32_t id, const WAVEFORMATEX* format,
                  IWaveWindow* window, uint32_t flags);
    MMRESULT Close(bool capture, void* handle);
    MMRESULT Prepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh);
    MMRESULT Unprepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh);
    MMRESULT Queue(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh);
    MMRESULT Reset(bool capture, void* handle);
    void Destroy(Device* d);
    int64_t CompensationUsec();

    // Audio-thread entry points (also run under the lock from the UI thread).
    static void OnContextState(pa_context* c, void* userdata);
    static CPulseLoop::Plan Plan(void* self);
    // Completions made on the audio thread wait for the end of its pass and
    // go out together (one wake-up of the receiver, which then finds the lock
    // free); elsewhere they go out at once.
    void Post(IWaveWindow* window, uint32_t msg, uintptr_t handle, WAVEHDR* header);
    // Falling behind is said on stderr, once each.
    void ReportGap();
    void CheckCaptureAge();  // after a captured buffer's end was placed
    struct PendingPost {
        IWaveWindow* window;
        uint32_t msg;
        uintptr_t handle;
        WAVEHDR* header;
    };
    friend struct DeviceCallbacks;

    const std::string m_server;
    std::unique_ptr<CPulseLoop> m_loop;
    pa_context* m_context = nullptr;
    std::optional<Clock::time_point> m_lastConnectFailure;
    bool m_listsStale = true;
    std::vector<DeviceEntry> m_sources;
    std::vector<DeviceEntry> m_sinks;
    std::set<Device*> m_devices;
    std::vector<PendingPost> m_posts;
    // Where the last completed capture buffer ended, in local time: the
    // reference a playback run is lined up against.
    std::optional<Clock::time_point> m_lastCaptureEnd;
    // The server's timing readings give positions as of its last processing
    // cycle, stamped with the time it answers (PipeWire).
    bool m_cycleStamped = false;
    uint32_t m_runningCaptures = 0;
    // Holds the delay when capture and playback run on different clocks, by
    // the rate of the playback stream opened last. PipeWire matches its
    // devices' clocks itself and is left alone.
    std::optional<CClockFollower> m_clock;
    // When the follower's next reading of a stream is due.
    Clock::time_point NextFollowReading(Clock::time_point now);
    std::minstd_rand m_followRandom{std::random_device{}()};
    bool m_toldClocks = false;
    // A captured buffer this long past its end, this many times in a row,
    // means capture has fallen behind.
    static constexpr int64_t kLateCaptureUsec = 300000;
    static constexpr int kLateCapturesToTell = 3;
    int m_lateCaptures = 0;
    bool m_toldLateCapture = false;
    bool m_toldGap = false;
};

}  // namespace morvane
