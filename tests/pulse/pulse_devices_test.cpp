// Device lists, the default-device mapping and result codes without a server.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/pulse/pulse_wave_api.h"
#include "private_server.h"
#include "waiting_window.h"

namespace morvane {
namespace {

using pulsetest::CWaitingWindow;
using pulsetest::SharedServer;

WAVEFORMATEX Cd() { return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}; }

std::vector<std::string> InNames(IWaveApi& api) {
    std::vector<std::string> names;
    for (uint32_t i = 0, n = api.waveInGetNumDevs(); i < n; ++i) {
        std::string name;
        EXPECT_EQ(api.waveInGetDevName(i, &name), MMSYSERR_NOERROR);
        names.push_back(name);
    }
    return names;
}

std::vector<std::string> OutNames(IWaveApi& api) {
    std::vector<std::string> names;
    for (uint32_t i = 0, n = api.waveOutGetNumDevs(); i < n; ++i) {
        std::string name;
        EXPECT_EQ(api.waveOutGetDevName(i, &name), MMSYSERR_NOERROR);
        names.push_back(name);
    }
    return names;
}

// The server-side device index our one native stream is attached to, from
// `pactl list short sink-inputs` or `source-outputs`.
int AttachedDevice(const char* what) {
    std::istringstream lines(SharedServer().Output(std::string("pactl list short ") + what));
    std::string line;
    int device = -1;
    while (std::getline(lines, line)) {
        if (line.find("protocol-native") == std::string::npos) continue;
        std::istringstream fields(line);
        int index;
        fields >> index >> device;
    }
    return device;
}

int DeviceIndex(const char* what, const std::string& name) {
    std::istringstream lines(SharedServer().Output(std::string("pactl list short ") + what));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        int index;
        std::string n;
        fields >> index >> n;
        if (n == name) return index;
    }
    return -1;
}

TEST(PulseDevices, ListsSinksAndEverySourceWithMonitorsInServerOrder) {
    CPulseWaveApi api(SharedServer().Address());
    EXPECT_EQ(OutNames(api), (std::vector<std::string>{"Bus", "Radio", "TV", "Spare"}));
    EXPECT_EQ(InNames(api),
              (std::vector<std::string>{"Monitor of Bus", "Monitor of Radio", "Monitor of TV",
                                        "Silence", "Monitor of Spare"}));
    std::string name = "unchanged";
    EXPECT_EQ(api.waveOutGetDevName(4, &name), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(api.waveInGetDevName(5, &name), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(name, "unchanged");
    EXPECT_EQ(api.waveInGetDevName(0, nullptr), MMSYSERR_INVALPARAM);
}

TEST(PulseDevices, ListsFollowDevicesThatComeAndGo) {
    CPulseWaveApi api(SharedServer().Address());
    ASSERT_EQ(api.waveOutGetNumDevs(), 4u);
    const std::string module = SharedServer().Output(
        "pactl load-module module-null-sink sink_name=extra "
        "sink_properties=device.description=Extra");
    ASSERT_FALSE(module.empty());
    // The server's event reaches us shortly after pactl returns.
    auto waitFor = [&](uint32_t outs, uint32_t ins) {
        for (int i = 0; i < 200; ++i) {
            if (api.waveOutGetNumDevs() == outs && api.waveInGetNumDevs() == ins) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    EXPECT_TRUE(waitFor(5, 6));
    EXPECT_EQ(OutNames(api).back(), "Extra");
    EXPECT_EQ(InNames(api).back(), "Monitor of Extra");
    SharedServer().Run("pactl unload-module " + module);
    EXPECT_TRUE(waitFor(4, 5));
}

TEST(PulseDevices, CountQueriesInALoopAreCheap) {
    CPulseWaveApi api(SharedServer().Address());
    api.waveInGetNumDevs();
    const auto t0 = std::chrono::steady_clock::now();
    uint32_t total = 0;
    for (int i = 0; i < 10000; ++i) total += api.waveInGetNumDevs() + api.waveOutGetNumDevs();
    const double us = std::chrono::duration<double, std::micro>(
                          std::chrono::steady_clock::now() - t0).count() / 20000;
    EXPECT_EQ(total, 90000u);
    std::printf("[ figure ] device count query: %.2f us each\n", us);
}

// An id beyond the list and WAVE_MAPPER open the server's default device;
// an id within it opens that very device.
TEST(PulseDevices, IdsMapToListedOrDefaultDevices) {
    CPulseWaveApi api(SharedServer().Address());
    const WAVEFORMATEX f = Cd();
    auto firstWord = [](const std::string& s) {
        std::istringstream in(s);
        std::string w;
        in >> w;
        return w;
    };
    const int defaultSink =
        DeviceIndex("sinks", firstWord(SharedServer().Output("pactl get-default-sink")));
    const int defaultSource =
        DeviceIndex("sources", firstWord(SharedServer().Output("pactl get-default-source")));
    ASSERT_GE(defaultSink, 0);
    ASSERT_GE(defaultSource, 0);
    const uint32_t outs = api.waveOutGetNumDevs();
    const uint32_t ins = api.waveInGetNumDevs();

    // The mapper is named as the list names the default device: the list
    // follows the server's order, as `pactl list short` does.
    auto position = [](const char* what, int index) {
        std::istringstream lines(SharedServer().Output(std::string("pactl list short ") + what));
        std::string line;
        for (size_t k = 0; std::getline(lines, line); ++k)
            if (std::stoi(line) == index) return k;
        return size_t{999};
    };
    std::string mapper;
    EXPECT_EQ(api.waveOutGetDevName(WAVE_MAPPER, &mapper), MMSYSERR_NOERROR);
    ASSERT_LT(position("sinks", defaultSink), OutNames(api).size());
    EXPECT_EQ(mapper, OutNames(api)[position("sinks", defaultSink)]);
    EXPECT_EQ(api.waveInGetDevName(WAVE_MAPPER, &mapper), MMSYSERR_NOERROR);
    ASSERT_LT(position("sources", defaultSource), InNames(api).size());
    EXPECT_EQ(mapper, InNames(api)[position("sources", defaultSource)]);

    struct Case {
        uint32_t id;
        int sink;
    };
    for (const Case c : {Case{WAVE_MAPPER, defaultSink}, Case{outs, defaultSink},
                         Case{outs + 7, defaultSink}, Case{3, DeviceIndex("sinks", "spare")},
                         Case{0, DeviceIndex("sinks", "bus")}}) {
        HWAVEOUT h = nullptr;
        ASSERT_EQ(api.waveOutOpen(&h, c.id, &f, nullptr, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(AttachedDevice("sink-inputs"), c.sink) << "playback id " << c.id;
        EXPECT_EQ(api.waveOutClose(h), MMSYSERR_NOERROR);
    }
    for (const Case c : {Case{WAVE_MAPPER, defaultSource}, Case{ins, defaultSource},
                         Case{2, DeviceIndex("sources", "tv.monitor")}}) {
        HWAVEIN h = nullptr;
        ASSERT_EQ(api.waveInOpen(&h, c.id, &f, nullptr, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(AttachedDevice("source-outputs"), c.sink) << "capture id " << c.id;
        EXPECT_EQ(api.waveInClose(h), MMSYSERR_NOERROR);
    }
}

TEST(PulseDevices, OpenChecksFormatAndArguments) {
    CPulseWaveApi api(SharedServer().Address());
    CWaitingWindow window;
    HWAVEOUT h = nullptr;
    WAVEFORMATEX f = Cd();
    f.nBlockAlign = 3;
    EXPECT_EQ(api.waveOutOpen(&h, 0, &f, &window, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    f = Cd();
    f.wFormatTag = 3;  // float
    EXPECT_EQ(api.waveOutOpen(&h, 0, &f, &window, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    f = Cd();
    f.wBitsPerSample = 12;
    EXPECT_EQ(api.waveOutOpen(&h, 0, &f, &window, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    f = Cd();
    EXPECT_EQ(api.waveOutOpen(&h, 0, nullptr, &window, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(api.waveOutOpen(&h, 0, &f, nullptr, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(api.waveOutOpen(&h, 0, &f, &window, 0, 0x00030000u), MMSYSERR_INVALFLAG);
    EXPECT_EQ(h, nullptr);
    // The wrappers' default format works too.
    const WAVEFORMATEX narrow{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    HWAVEIN in = nullptr;
    ASSERT_EQ(api.waveInOpen(&in, 1, &narrow, &window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(api.waveInClose(in), MMSYSERR_NOERROR);
    auto open = window.Next(std::chrono::milliseconds(0));
    auto close = window.Next(std::chrono::milliseconds(0));
    ASSERT_TRUE(open && close);
    EXPECT_EQ(open->msg, static_cast<uint32_t>(MM_WIM_OPEN));
    EXPECT_EQ(close->msg, static_cast<uint32_t>(MM_WIM_CLOSE));
    EXPECT_EQ(open->device, reinterpret_cast<uintptr_t>(in));
    EXPECT_EQ(close->header, nullptr);
}

void ExpectNoServer(IWaveApi& api) {
    const WAVEFORMATEX f = Cd();
    EXPECT_EQ(api.waveInGetNumDevs(), 0u);
    EXPECT_EQ(api.waveOutGetNumDevs(), 0u);
    std::string name;
    EXPECT_EQ(api.waveOutGetDevName(0, &name), MMSYSERR_NODRIVER);
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    EXPECT_EQ(api.waveInOpen(&in, 0, &f, nullptr, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    EXPECT_EQ(api.waveOutOpen(&out, WAVE_MAPPER, &f, nullptr, 0, CALLBACK_NULL),
              MMSYSERR_NODRIVER);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(api.waveInClose(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(api.waveOutReset(out), MMSYSERR_INVALHANDLE);
}

TEST(PulseDevices, WithoutAServerEverythingFailsWithACode) {
    const std::string dead = "unix:" + SharedServer().Dir() + "/no-such-socket";
    {
        CPulseWaveApi api(dead);
        ExpectNoServer(api);
    }
    // The same through the environment, as a user would point it elsewhere.
    const char* old = getenv("PULSE_SERVER");
    const std::string saved = old != nullptr ? old : "";
    setenv("PULSE_SERVER", dead.c_str(), 1);
    {
        CPulseWaveApi api;
        ExpectNoServer(api);
    }
    if (old != nullptr) setenv("PULSE_SERVER", saved.c_str(), 1); else unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace morvane
