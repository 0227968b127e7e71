#pragma once
// A deterministic wave device simulator on a virtual clock counted in sample
// frames. Capture devices fill queued buffers in order from a known input
// signal of absolute time; playback devices play written buffers in order and
// hand what they output, with its time, to a sink. Notifications go to the
// window given at open, optionally after a seeded random delay (FIFO kept).
// A device may run on a clock of its own, a few ppm fast or slow against the
// virtual one, and playback may follow capture's clock as the Linux layer
// does (its rate moved by the clock follower's factor).

#include <cstdint>
#include <deque>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "audio/clock_follower.h"
#include "audio/wave_api.h"

namespace morvane::sim {

// Writes `frames` interleaved frames of `channels` samples of the input that
// the device hears at absolute frame time `start`.
using SignalFn = std::function<void(uint64_t start, uint32_t frames, uint16_t channels, int16_t* out)>;
// Receives what a playback device outputs from absolute frame time `start`;
// `data` is null while it plays silence because nothing is queued.
using OutputSink = std::function<void(uint64_t start, const int16_t* data, uint32_t frames,
                                      uint16_t channels)>;

// A reproducible pseudo-random input: every frame differs, so any shift or
// mix-up of samples shows.
void NoiseSignal(uint64_t start, uint32_t frames, uint16_t channels, int16_t* out);
int16_t NoiseSample(uint64_t frame, uint16_t channel);

class CSimWaveApi : public IWaveApi {
public:
    explicit CSimWaveApi(uint32_t sampleRate = 44100);

    uint32_t AddCaptureDevice(std::string name, SignalFn signal = NoiseSignal, bool failsToOpen = false);
    uint32_t AddPlaybackDevice(std::string name, bool failsToOpen = false);
    void SetOutputSink(uint32_t playbackDevice, OutputSink sink);
    // The device's clock runs `ppm` fast (negative: slow) against the virtual
    // clock: a capture device's frame n is heard at virtual time n / (1 + ppm
    // * 1e-6), and the signal is asked for by that n; a playback device takes
    // that many frames per frame of virtual time (the sink is told the
    // virtual time each piece starts at).
    void SetDeviceClock(bool capture, uint32_t device, double ppm);
    // Playback follows capture's clock: every half second of virtual time the
    // follower is given both streams' readings, and playback then takes its
    // factor more frames per frame of its own clock.
    void FollowClocks(bool on) { m_follow = on; }
    double PlaybackFactor() const { return m_follower ? m_follower->Factor() : 1.0; }
    const CClockFollower* Follower() const { return m_follower ? &*m_follower : nullptr; }
    // Delays every notification by 0..maxFrames (seeded), keeping their order.
    void SetNotificationJitter(uint64_t maxFrames, uint32_t seed);
    // Every playback device stops for `frames` from time `from` (a system
    // that did not keep up), playing nothing, and then plays on from where it
    // was: what it holds is heard that much later.
    void StallPlayback(uint64_t from, uint64_t frames) {
        m_stallFrom = from;
        m_stallEnd = from + frames;
    }
    // The next call named `call` (e.g. "waveInAddBuffer") fails with `code`.
    void FailNext(const std::string& call, MMRESULT code);
    // Records every call made, in order: its name, and for calls with a
    // header the header's buffer index ("waveOutWrite 3").
    void EnableCallLog(bool on) { m_logCalls = on; }
    const std::vector<std::string>& Calls() const { return m_calls; }
    void ClearCalls() { m_calls.clear(); }

    uint64_t Now() const { return m_now; }
    std::optional<uint64_t> NextEventTime() const;
    // Moves the clock to `t`, streaming and completing buffers on the way.
    void AdvanceTo(uint64_t t);

    uint64_t UnderrunFrames() const { return m_underrun; }
    uint64_t OverrunFrames() const { return m_overrun; }
    size_t OpenStreams() const { return m_streams.size(); }
    size_t QueuedBuffers() const;

    // IWaveApi
    uint32_t waveInGetNumDevs() override;
    MMRESULT waveInGetDevName(uint32_t id, std::string* name) override;
    MMRESULT waveInOpen(HWAVEIN* phwi, uint32_t id, const WAVEFORMATEX* pwfx, IWaveWindow* window,
                        uintptr_t instance, uint32_t flags) override;
    MMRESULT waveInClose(HWAVEIN hwi) override;
    MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveInStart(HWAVEIN hwi) override;
    MMRESULT waveInStop(HWAVEIN hwi) override;
    MMRESULT waveInReset(HWAVEIN hwi) override;
    uint32_t waveOutGetNumDevs() override;
    MMRESULT waveOutGetDevName(uint32_t id, std::string* name) override;
    MMRESULT waveOutOpen(HWAVEOUT* phwo, uint32_t id, const WAVEFORMATEX* pwfx, IWaveWindow* window,
                         uintptr_t instance, uint32_t flags) override;
    MMRESULT waveOutClose(HWAVEOUT hwo) override;
    MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override;
    MMRESULT waveOutReset(HWAVEOUT hwo) override;
    MMRESULT waveOutGetErrorTextA(MMRESULT code, char* text, uint32_t cch) override;

private:
    struct Device {
        std::string name;
        SignalFn signal;
        OutputSink sink;
        bool failsToOpen = false;
        double clock = 1.0;  // frames per frame of virtual time
    };
    struct Stream {
        bool capture = false;
        uint32_t device = 0;
        WAVEFORMATEX format{};
        IWaveWindow* window = nullptr;
        std::deque<WAVEHDR*> queue;
        uint32_t headFrames = 0;  // frames done in the head buffer
        bool running = false;     // capture started / playback begun
        // The stream's own frames by virtual time t: floor(pos0 + (t - t0) *
        // rate); `done` of them have been taken, `used` of those with data
        // (since the stream began). Rebased whenever its rate changes.
        double pos0 = 0;
        uint64_t t0 = 0;
        double rate = 1.0;
        uint64_t done = 0;
        uint64_t began = 0;
        uint64_t used = 0;

        uint64_t DueBy(uint64_t t) const {
            const double pos = pos0 + (static_cast<double>(t) - static_cast<double>(t0)) * rate;
            return static_cast<uint64_t>(std::max(0.0, std::floor(pos)));
        }
        // The virtual time by which frame count `n` is due.
        uint64_t TimeOfFrame(uint64_t n) const {
            const double dt = (static_cast<double>(n) - pos0) / rate;
            return t0 + static_cast<uint64_t>(std::max(0.0, std::ceil(dt - 1e-9)));
        }
        void Begin(uint64_t now, double newRate) {
            rate = newRate;
            t0 = now;
            pos0 = static_cast<double>(now) * rate;
            done = began = DueBy(now);
            used = 0;
        }
        void Rebase(uint64_t now, double newRate) {
            if (now > t0) {
                pos0 += static_cast<double>(now - t0) * rate;
                t0 = now;
            }
            rate = newRate;
        }
    };
    struct Post {
        uint64_t due;
        IWaveWindow* window;
        uint32_t msg;
        uintptr_t handle;
        WAVEHDR* header;
    };

    bool Enter(const char* call, MMRESULT* injected, const WAVEHDR* header);
    MMRESULT Open(bool capture, uintptr_t* handle, uint32_t id, const WAVEFORMATEX* pwfx,
                  IWaveWindow* window, uint32_t flags);
    MMRESULT Close(bool capture, uintptr_t handle);
    MMRESULT Prepare(bool capture, uintptr_t handle, WAVEHDR* pwh, uint32_t cbwh, bool prepare);
    MMRESULT Queue(bool capture, uintptr_t handle, WAVEHDR* pwh, uint32_t cbwh);
    MMRESULT Reset(bool capture, uintptr_t handle);
    Stream* Find(bool capture, uintptr_t handle);
    static uint32_t FramesOf(const Stream& s, const WAVEHDR& h);
    void Complete(uintptr_t handle, Stream& s, uint64_t when);
    void PostMessage(IWaveWindow* window, uint32_t msg, uintptr_t handle, WAVEHDR* header,
                     uint64_t when);
    void DeliverDuePosts();
    void StreamUntil(uint64_t t);
    void StreamOne(uintptr_t handle, Stream& s, uint64_t from, uint64_t t);
    void TakeClockReadings();

    uint32_t m_rate;
    uint64_t m_now = 0;
    std::vector<Device> m_inputs;
    std::vector<Device> m_outputs;
    std::map<uintptr_t, Stream> m_streams;
    uintptr_t m_nextHandle = 0x1000;
    std::deque<Post> m_posts;
    std::map<IWaveWindow*, uint64_t> m_lastDue;
    uint64_t m_jitter = 0;
    uint64_t m_stallFrom = 0;
    uint64_t m_stallEnd = 0;
    std::mt19937_64 m_random{1};
    std::map<std::string, MMRESULT> m_failNext;
    bool m_logCalls = false;
    std::vector<std::string> m_calls;
    uint64_t m_underrun = 0;
    uint64_t m_overrun = 0;
    std::vector<int16_t> m_scratch;
    bool m_follow = false;
    std::optional<CClockFollower> m_follower;
    uint64_t m_nextReading = 0;
};

}  // namespace morvane::sim
