// End to end: a band-limited signal played into "radio" is captured from its
// monitor through the wrappers in 100 ms buffers and written to "tv" N
// buffers later, the way the delay engine does it. One recording of
// bus.monitor holds both, sample-aligned; cross-correlation gives the delay.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/pulse/pulse_wave_api.h"
#include "audio/voice_playing.h"
#include "audio/voice_recording.h"
#include "private_server.h"
#include "waiting_window.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;
using pulsetest::CWaitingWindow;
using pulsetest::SharedServer;

constexpr int kRate = 44100;

// Noise from 300 to 4000 Hz in bursts of random length and level, so that
// the correlation has one clear peak.
std::vector<int16_t> MakeSignal(double seconds, double leadIn) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> phase(0.0, 2 * M_PI);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const size_t n = static_cast<size_t>(seconds * kRate);
    std::vector<double> noise(n, 0.0);
    for (int k = 0; k < 120; ++k) {
        const double f = 300.0 + (4000.0 - 300.0) * unit(rng);
        const double p = phase(rng);
        for (size_t i = 0; i < n; ++i) noise[i] += std::sin(2 * M_PI * f * i / kRate + p);
    }
    std::vector<int16_t> out(n * 2, 0);
    size_t i = static_cast<size_t>(leadIn * kRate);
    while (i < n) {
        const size_t len = static_cast<size_t>((0.1 + 0.3 * unit(rng)) * kRate);
        const double gain = 300.0 + 1200.0 * unit(rng);
        for (size_t j = i; j < std::min(n, i + len); ++j) {
            const double env = std::min({1.0, (j - i) / 200.0, (i + len - j) / 200.0});
            const auto v = static_cast<int16_t>(noise[j] * gain * env);
            out[2 * j] = v;
            out[2 * j + 1] = v;
        }
        i += len + static_cast<size_t>((0.1 + 0.4 * unit(rng)) * kRate);
    }
    return out;
}

void Fft(std::vector<std::complex<double>>& a, bool inverse) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double ang = 2 * M_PI / static_cast<double>(len) * (inverse ? 1 : -1);
        const std::complex<double> wl(std::cos(ang), std::sin(ang));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t j = 0; j < len / 2; ++j) {
                const std::complex<double> u = a[i + j], v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

// The lag (in samples, fractional) by which `late` follows `early`, searched
// over 0..maxLag, and the peak's strength as a normalised correlation.
std::pair<double, double> Lag(const std::vector<double>& early, const std::vector<double>& late,
                              size_t maxLag) {
    size_t n = 1;
    while (n < early.size() + late.size()) n <<= 1;
    std::vector<std::complex<double>> a(n), b(n);
    for (size_t i = 0; i < early.size(); ++i) a[i] = early[i];
    for (size_t i = 0; i < late.size(); ++i) b[i] = late[i];
    Fft(a, false);
    Fft(b, false);
    for (size_t i = 0; i < n; ++i) a[i] = std::conj(a[i]) * b[i];
    Fft(a, true);
    size_t best = 0;
    for (size_t k = 0; k <= maxLag && k < n; ++k)
        if (a[k].real() > a[best].real()) best = k;
    double frac = 0.0;
    if (best > 0 && best + 1 < n) {
        const double y0 = a[best - 1].real(), y1 = a[best].real(), y2 = a[best + 1].real();
        const double d = y0 - 2 * y1 + y2;
        if (d != 0) frac = 0.5 * (y0 - y2) / d;
    }
    double e1 = 0, e2 = 0;
    for (double v : early) e1 += v * v;
    for (double v : late) e2 += v * v;
    const double norm = a[best].real() / static_cast<double>(n) / std::sqrt(e1 * e2 + 1e-9);
    return {static_cast<double>(best) + frac, norm};
}

pid_t Spawn(const std::string& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", ("exec env " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

int Finish(pid_t pid, int sig) {
    if (sig != 0) kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// Runs the capture-to-playback loop with a delay of `delayCount` buffers and
// returns the measured delay in milliseconds and the correlation peak.
std::pair<double, double> MeasureDelay(uint32_t delayCount) {
    const std::string dir = SharedServer().Dir();
    const std::string signalFile = dir + "/signal.raw";
    const std::string recordFile = dir + "/bus.raw";
    const double signalSeconds = 4.0;
    {
        const std::vector<int16_t> s = MakeSignal(signalSeconds, 0.3);
        std::ofstream(signalFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(s.data()),
                   static_cast<std::streamsize>(s.size() * sizeof(int16_t)));
    }
    const pid_t recorder = Spawn(
        SharedServer().Env() +
        "pacat --record --raw -d bus.monitor --format=s16le --rate=44100 --channels=4 "
        "--channel-map=aux0,aux1,aux2,aux3 --latency-msec=20 > '" + recordFile + "'");

    CPulseWaveApi api(SharedServer().Address());
    CWaitingWindow inWindow, outWindow;
    CVoiceRecording recorderVoice(api);
    CVoicePlaying player(api);
    recorderVoice.SetFormat(44100, 16, 2);
    player.SetFormat(44100, 16, 2);
    EXPECT_EQ(recorderVoice.Open(&inWindow, 1), 1);  // Monitor of Radio
    EXPECT_EQ(player.Open(&outWindow, 2), 1);         // TV
    const float seconds = 0.1f;
    for (uint32_t i = 0; i <= delayCount; ++i) {
        EXPECT_EQ(recorderVoice.PrepareBuffer(i, seconds), 1);
        EXPECT_EQ(player.PrepareBuffer(i, seconds), 1);
    }
    for (uint32_t i = 0; i <= delayCount; ++i) EXPECT_EQ(recorderVoice.AddBuffer(i), 1);
    // The signal starts with silence: capture is running before it arrives.
    const pid_t source = Spawn(SharedServer().Env() +
                               "pacat --playback --raw -d radio --format=s16le --rate=44100 "
                               "--channels=2 --latency-msec=100 '" + signalFile + "'");

    // The delay engine's arrival handling, reduced to the audio path.
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<int>(signalSeconds * 1000) + 1000 +
                                               100 * static_cast<int>(delayCount));
    uint32_t received = 0;
    int failedWrites = 0;
    const auto cpu = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double cpuStart = cpu();
    const auto wallStart = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end) {
        std::optional<pulsetest::Message> m = inWindow.NextOf(MM_WIM_DATA, 1000ms);
        if (!m) break;
        const auto i = static_cast<uint32_t>(m->header->dwUser);
        player.CopyBuffer(i, recorderVoice.Block(i), seconds);
        recorderVoice.AddBuffer(i);
        if (received == delayCount - 1) {
            for (uint32_t k = 0; k < delayCount; ++k) failedWrites += player.Write(k) == 1 ? 0 : 1;
        } else if (received > delayCount - 1) {
            failedWrites += player.Write(i) == 1 ? 0 : 1;
            received = delayCount;
        }
        ++received;
    }
    const double cpuShare =
        (cpu() - cpuStart) /
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double compensationMs =
        static_cast<double>(api.LastPlaybackCompensationUsec(player.Handle())) / 1000.0;
    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(recorderVoice.Reset(), 1);
    EXPECT_EQ(player.Reset(), 1);
    EXPECT_EQ(recorderVoice.Close(), 1);
    EXPECT_EQ(player.Close(), 1);
    Finish(source, SIGTERM);
    std::this_thread::sleep_for(200ms);
    Finish(recorder, SIGINT);

    std::vector<int16_t> raw;
    {
        std::ifstream again(recordFile, std::ios::binary | std::ios::ate);
        const auto bytes = static_cast<size_t>(again.tellg());
        raw.resize(bytes / 2);
        again.seekg(0);
        again.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(bytes));
    }
    std::vector<double> input, output;
    for (size_t f = 0; f + 3 < raw.size(); f += 4) {
        input.push_back(raw[f]);        // aux0: radio, left
        output.push_back(raw[f + 2]);   // aux2: tv, left
    }
    EXPECT_GT(input.size(), static_cast<size_t>(kRate * signalSeconds));
    const auto [lag, strength] = Lag(input, output, kRate * (delayCount / 10 + 2));
    const double ms = lag * 1000.0 / kRate;
    std::printf("[ figure ] delay %u x 100 ms: measured %.2f ms, error %+.2f ms "
                "(run start corrected by %.2f ms; peak %.2f; %zu frames; "
                "capture + playback used %.2f %% of a core)\n",
                delayCount, ms, ms - 100.0 * delayCount, compensationMs, strength, input.size(),
                100.0 * cpuShare);
    return {ms, strength};
}

TEST(PulseEndToEnd, OutputRunsTheSetDelayBehindTheInput) {
    for (uint32_t n : {3u, 10u}) {
        const auto [ms, strength] = MeasureDelay(n);
        EXPECT_NEAR(ms, 100.0 * n, 10.0) << "delay of " << n << " buffers";
        EXPECT_GT(strength, 0.9) << "the output does not look like the input";
    }
}

}  // namespace
}  // namespace morvane
