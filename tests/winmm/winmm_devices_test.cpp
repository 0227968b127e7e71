// Device lists, error texts and the wrappers' failure reports over the
// platform's wave API, against the private server's devices.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "audio/voice_recording.h"
#include "private_server.h"
#include "wave_rig.h"

namespace morvane::winmmtest {
namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(WinmmDevices, ListsTheServersDevicesByTheirNames) {
    ASSERT_FALSE(ServerDir().empty()) << "not running against the private server";
    CWinmmWaveApi api;
    const auto inputs = DeviceNames(api, true);
    const auto outputs = DeviceNames(api, false);
    EXPECT_TRUE(Contains(inputs, "Monitor of Radio")) << ::testing::PrintToString(inputs);
    EXPECT_TRUE(Contains(inputs, "Monitor of TV")) << ::testing::PrintToString(inputs);
    EXPECT_TRUE(Contains(outputs, "TV")) << ::testing::PrintToString(outputs);
    EXPECT_TRUE(Contains(outputs, "Radio")) << ::testing::PrintToString(outputs);
    // Wide names come out as UTF-8.
    EXPECT_TRUE(Contains(outputs, kNonAsciiSink)) << ::testing::PrintToString(outputs);
    EXPECT_TRUE(Contains(inputs, std::string("Monitor of ") + kNonAsciiSink)) << ::testing::PrintToString(inputs);

    // Beyond the lists, and nowhere to put the name.
    std::string name = "untouched";
    EXPECT_EQ(api.waveInGetDevName(api.waveInGetNumDevs(), &name), MMRESULT{MMSYSERR_BADDEVICEID});
    EXPECT_EQ(api.waveOutGetDevName(api.waveOutGetNumDevs() + 3, &name), MMRESULT{MMSYSERR_BADDEVICEID});
    EXPECT_EQ(name, "untouched");
    EXPECT_EQ(api.waveInGetDevName(0, nullptr), MMRESULT{MMSYSERR_INVALPARAM});
    EXPECT_EQ(api.waveOutGetDevName(0, nullptr), MMRESULT{MMSYSERR_INVALPARAM});
}

TEST(WinmmDevices, ErrorTextIsThePlatformsAndFitsTheBuffer) {
    CWinmmWaveApi api;
    wchar_t wide[MAXERRORLENGTH];
    ASSERT_EQ(::waveOutGetErrorTextW(MMSYSERR_INVALHANDLE, wide, MAXERRORLENGTH), MMRESULT{MMSYSERR_NOERROR});
    const std::string expected(wide, wide + wcslen(wide));  // the platform's texts are ASCII here
    ASSERT_GT(expected.size(), 8u);

    char text[256];
    ASSERT_EQ(api.waveOutGetErrorTextA(MMSYSERR_INVALHANDLE, text, sizeof text), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(std::string(text), expected);

    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(api.waveOutGetErrorTextA(MMSYSERR_INVALHANDLE, text, 5), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(std::string(text), expected.substr(0, 4));
    EXPECT_EQ(text[5], 'x');

    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(api.waveOutGetErrorTextA(MMSYSERR_INVALHANDLE, text, 0), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(api.waveOutGetErrorTextA(MMSYSERR_INVALHANDLE, nullptr, 256), MMRESULT{MMSYSERR_INVALPARAM});
    EXPECT_EQ(api.waveOutGetErrorTextA(12345, text, sizeof text), MMRESULT{MMSYSERR_BADERRNUM});
}

// The wrappers' failure report carries the platform's text.
TEST(WinmmDevices, WrapperReportsAFailedCallWithThePlatformsText) {
    CWinmmWaveApi api;
    CVoiceRecording recorder(api);
    EXPECT_EQ(recorder.Close(), 0);
    EXPECT_EQ(recorder.LastResult(), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    char text[256];
    ASSERT_EQ(api.waveOutGetErrorTextA(MMSYSERR_INVALHANDLE, text, sizeof text), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(recorder.LastReport(), std::string(text) + " line: 466\n");
}

}  // namespace
}  // namespace morvane::winmmtest
