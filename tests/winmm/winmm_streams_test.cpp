// Capture and playback through the platform's wave API with window
// notification, on the private server's devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "message_window.h"
#include "private_server.h"
#include "wave_rig.h"

namespace morvane::winmmtest {
namespace {

constexpr uint32_t kHeaderSize = sizeof(WAVEHDR);
// Wine's first captured buffer can take up to 2 s.
constexpr int kWaitMs = 15000;

std::vector<uintptr_t> Sequence(std::initializer_list<uintptr_t> indices) { return indices; }

class WinmmStreams : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(ServerDir().empty()) << "not running against the private server";
        ASSERT_NE(window.Hwnd(), nullptr);
        const auto monitor = DeviceId(api, true, "Monitor of Radio");
        const auto radio = DeviceId(api, false, "Radio");
        const auto tv = DeviceId(api, false, "TV");
        ASSERT_TRUE(monitor && radio && tv);
        radioMonitorId = *monitor;
        radioId = *radio;
        tvId = *tv;
    }

    HWAVEIN OpenIn(uint32_t id) {
        HWAVEIN h = nullptr;
        EXPECT_EQ(api.waveInOpen(&h, id, &format, &window, 0, CALLBACK_WINDOW), MMRESULT{MMSYSERR_NOERROR});
        return h;
    }
    HWAVEOUT OpenOut(uint32_t id) {
        HWAVEOUT h = nullptr;
        EXPECT_EQ(api.waveOutOpen(&h, id, &format, &window, 0, CALLBACK_WINDOW), MMRESULT{MMSYSERR_NOERROR});
        return h;
    }

    CWinmmWaveApi api;
    CMessageWindow window;
    const WAVEFORMATEX format = ProgramFormat();
    uint32_t radioMonitorId = 0, radioId = 0, tvId = 0;
};

// A tone played on "Radio" comes back from its monitor: every filled header
// arrives in queue order with its data, and the open and close notices
// frame the run.
TEST_F(WinmmStreams, CaptureDeliversFilledHeadersInQueueOrder) {
    BufferSet<4> in;
    BufferSet<30> out;
    HWAVEIN hin = OpenIn(radioMonitorId);
    HWAVEOUT hout = OpenOut(radioId);
    ASSERT_TRUE(hin && hout);
    for (auto& h : in.headers) ASSERT_EQ(api.waveInPrepareHeader(hin, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    for (size_t i = 0; i < out.headers.size(); ++i) {
        FillTone(out.blocks[i].data(), kBufferBytes, 1000.0, 16000, static_cast<uint32_t>(i * kBufferBytes / 4));
        ASSERT_EQ(api.waveOutPrepareHeader(hout, &out.headers[i], kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    }

    // As the program does: each buffer goes back on the queue as it arrives.
    bool requeue = true;
    int loudest = 0;
    window.onMessage = [&](const WaveMessage& m) {
        if (m.msg != MM_WIM_DATA) return;
        loudest = std::max(loudest, PeakOf(m.header->lpData, m.header->dwBytesRecorded));
        if (requeue) {
            EXPECT_EQ(api.waveInAddBuffer(hin, m.header, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
        }
    };
    for (auto& h : out.headers) ASSERT_EQ(api.waveOutWrite(hout, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    for (auto& h : in.headers) ASSERT_EQ(api.waveInAddBuffer(hin, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveInStart(hin), MMRESULT{MMSYSERR_NOERROR});

    constexpr size_t kCount = 16;
    ASSERT_TRUE(window.WaitFor(MM_WIM_DATA, kCount, kWaitMs)) << window.Of(MM_WIM_DATA).size();
    requeue = false;
    ASSERT_EQ(api.waveInReset(hin), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveOutReset(hout), MMRESULT{MMSYSERR_NOERROR});
    window.Pump(200);
    for (auto& h : in.headers) EXPECT_EQ(api.waveInUnprepareHeader(hin, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    for (auto& h : out.headers) EXPECT_EQ(api.waveOutUnprepareHeader(hout, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveInClose(hin), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveOutClose(hout), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_TRUE(window.WaitFor(MM_WIM_CLOSE, 1, kWaitMs));

    const auto data = window.Of(MM_WIM_DATA);
    for (size_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(data[i].header, &in.headers[i % 4]) << i;
        EXPECT_EQ(data[i].device, reinterpret_cast<uintptr_t>(hin)) << i;
        EXPECT_EQ(data[i].flags & (WHDR_DONE | WHDR_INQUEUE), uint32_t{WHDR_DONE}) << i;
        EXPECT_EQ(data[i].bytesRecorded, kBufferBytes) << i;
    }
    EXPECT_GT(loudest, 8000) << "the tone did not come back";
    // The capture device's own notices come first and last.
    std::vector<uint32_t> captureMessages;
    for (const auto& m : window.All())
        if (m.device == reinterpret_cast<uintptr_t>(hin)) captureMessages.push_back(m.msg);
    EXPECT_EQ(captureMessages.front(), static_cast<uint32_t>(MM_WIM_OPEN));
    EXPECT_EQ(captureMessages.back(), static_cast<uint32_t>(MM_WIM_CLOSE));

    // How evenly filled buffers arrive (a figure, not a requirement).
    double sum = 0, lo = 1e9, hi = 0;
    for (size_t i = 5; i < kCount; ++i) {
        const double ms = std::chrono::duration<double, std::milli>(data[i].when - data[i - 1].when).count();
        sum += ms;
        lo = std::min(lo, ms);
        hi = std::max(hi, ms);
    }
    std::printf("MM_WIM_DATA interval over %zu buffers: mean %.1f ms, min %.1f, max %.1f\n", kCount - 5,
                sum / static_cast<double>(kCount - 5), lo, hi);
}

// Played headers come back one by one in write order; while any is queued
// the device cannot be closed nor the header unprepared.
TEST_F(WinmmStreams, PlaybackHandsBackPlayedHeadersInOrder) {
    BufferSet<5> out;
    HWAVEOUT h = OpenOut(tvId);
    ASSERT_TRUE(h);
    for (auto& hdr : out.headers) ASSERT_EQ(api.waveOutPrepareHeader(h, &hdr, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    for (auto& hdr : out.headers) ASSERT_EQ(api.waveOutWrite(h, &hdr, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(api.waveOutClose(h), MMRESULT{WAVERR_STILLPLAYING});
    EXPECT_EQ(api.waveOutUnprepareHeader(h, &out.headers[4], kHeaderSize), MMRESULT{WAVERR_STILLPLAYING});

    ASSERT_TRUE(window.WaitFor(MM_WOM_DONE, 5, kWaitMs)) << window.Of(MM_WOM_DONE).size();
    const auto done = window.Of(MM_WOM_DONE);
    EXPECT_EQ(Indices(done), Sequence({0, 1, 2, 3, 4}));
    for (const auto& m : done) {
        EXPECT_EQ(m.device, reinterpret_cast<uintptr_t>(h));
        EXPECT_EQ(m.flags & (WHDR_DONE | WHDR_INQUEUE), uint32_t{WHDR_DONE});
    }
    for (auto& hdr : out.headers) EXPECT_EQ(api.waveOutUnprepareHeader(h, &hdr, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveOutClose(h), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_TRUE(window.WaitFor(MM_WOM_CLOSE, 1, kWaitMs));
    EXPECT_EQ(window.All().front().msg, static_cast<uint32_t>(MM_WOM_OPEN));
}

// Reset stops both kinds of device at once and hands back every queued
// buffer, in queue order, after which the devices close.
TEST_F(WinmmStreams, ResetHandsBackEveryQueuedBufferInOrder) {
    BufferSet<6> in;
    BufferSet<6> out;
    HWAVEIN hin = OpenIn(radioMonitorId);
    HWAVEOUT hout = OpenOut(tvId);
    ASSERT_TRUE(hin && hout);
    for (auto& h : in.headers) {
        ASSERT_EQ(api.waveInPrepareHeader(hin, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
        ASSERT_EQ(api.waveInAddBuffer(hin, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    }
    ASSERT_EQ(api.waveInStart(hin), MMRESULT{MMSYSERR_NOERROR});
    for (auto& h : out.headers) {
        ASSERT_EQ(api.waveOutPrepareHeader(hout, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
        ASSERT_EQ(api.waveOutWrite(hout, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    }
    EXPECT_EQ(api.waveInClose(hin), MMRESULT{WAVERR_STILLPLAYING});
    ASSERT_EQ(api.waveInReset(hin), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveOutReset(hout), MMRESULT{MMSYSERR_NOERROR});
    // Reset has handed them all back already; the messages follow.
    for (const auto& h : in.headers) EXPECT_EQ(h.dwFlags & (WHDR_DONE | WHDR_INQUEUE), uint32_t{WHDR_DONE});
    for (const auto& h : out.headers) EXPECT_EQ(h.dwFlags & (WHDR_DONE | WHDR_INQUEUE), uint32_t{WHDR_DONE});
    ASSERT_TRUE(window.WaitFor(MM_WIM_DATA, 6, kWaitMs));
    ASSERT_TRUE(window.WaitFor(MM_WOM_DONE, 6, kWaitMs));
    window.Pump(300);
    EXPECT_EQ(Indices(window.Of(MM_WIM_DATA)), Sequence({0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Indices(window.Of(MM_WOM_DONE)), Sequence({0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(api.waveInClose(hin), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(api.waveOutClose(hout), MMRESULT{MMSYSERR_NOERROR});
}

// A run written 150 ms after capture handed back its buffer starts that much
// into its first buffers (each keeps a frame), and every header is whole
// again when written again or unprepared. A later write is no run start.
TEST_F(WinmmStreams, ALateRunLeavesOutItsLatenessAndGivesHeadersBackWhole) {
    BufferSet<4> in;
    BufferSet<5> out;
    HWAVEIN hin = OpenIn(radioMonitorId);
    HWAVEOUT hout = OpenOut(tvId);
    ASSERT_TRUE(hin && hout);
    for (auto& h : in.headers) ASSERT_EQ(api.waveInPrepareHeader(hin, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    for (auto& h : out.headers) ASSERT_EQ(api.waveOutPrepareHeader(hout, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    size_t captured = 0;
    bool requeue = true;
    window.onMessage = [&](const WaveMessage& m) {
        if (m.msg != MM_WIM_DATA || !requeue) return;
        EXPECT_EQ(api.waveInAddBuffer(hin, m.header, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
        if (++captured != 3) return;
        ::Sleep(150);
        for (auto& h : out.headers) EXPECT_EQ(api.waveOutWrite(hout, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    };
    for (auto& h : in.headers) ASSERT_EQ(api.waveInAddBuffer(hin, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveInStart(hin), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_TRUE(window.WaitFor(MM_WOM_DONE, 5, kWaitMs));

    const int64_t skipUsec = api.LastRunSkipUsec(hout);
    EXPECT_GE(skipUsec, 150000);
    EXPECT_LE(skipUsec, 400000);  // capture's notices come up to 130 ms late
    uint64_t skipped = 0;
    for (size_t i = 0; i < out.headers.size(); ++i) {
        const WAVEHDR& h = out.headers[i];
        EXPECT_EQ(h.lpData + h.dwBufferLength, out.blocks[i].data() + kBufferBytes) << i;
        EXPECT_GE(h.dwBufferLength, 4u) << i;
        skipped += static_cast<uint64_t>(h.lpData - out.blocks[i].data());
    }
    EXPECT_EQ(out.headers[0].dwBufferLength, 4u) << "the first buffer is left out but for a frame";
    EXPECT_EQ(static_cast<int64_t>(skipped * 1000000 / ProgramFormat().nAvgBytesPerSec), skipUsec);

    // Written again on the same run: whole, and nothing more left out.
    ASSERT_EQ(api.waveOutWrite(hout, &out.headers[0], kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(out.headers[0].lpData, out.blocks[0].data());
    EXPECT_EQ(out.headers[0].dwBufferLength, kBufferBytes);
    EXPECT_EQ(api.LastRunSkipUsec(hout), skipUsec);
    ASSERT_TRUE(window.WaitFor(MM_WOM_DONE, 6, kWaitMs));

    requeue = false;
    ASSERT_EQ(api.waveInReset(hin), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveOutReset(hout), MMRESULT{MMSYSERR_NOERROR});
    for (size_t i = 0; i < out.headers.size(); ++i) {
        EXPECT_EQ(api.waveOutUnprepareHeader(hout, &out.headers[i], kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
        EXPECT_EQ(out.headers[i].lpData, out.blocks[i].data()) << i;
        EXPECT_EQ(out.headers[i].dwBufferLength, kBufferBytes) << i;
    }
    for (auto& h : in.headers) EXPECT_EQ(api.waveInUnprepareHeader(hin, &h, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(api.waveInClose(hin), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(api.waveOutClose(hout), MMRESULT{MMSYSERR_NOERROR});
}

TEST_F(WinmmStreams, BadArgumentsGetThePlatformsCodes) {
    HWAVEIN hin = nullptr;
    HWAVEOUT hout = nullptr;
    EXPECT_EQ(api.waveInOpen(&hin, api.waveInGetNumDevs() + 2, &format, &window, 0, CALLBACK_WINDOW),
              MMRESULT{MMSYSERR_BADDEVICEID});
    EXPECT_EQ(api.waveOutOpen(&hout, api.waveOutGetNumDevs() + 2, &format, &window, 0, CALLBACK_WINDOW),
              MMRESULT{MMSYSERR_BADDEVICEID});
    WAVEFORMATEX bad = format;
    bad.wFormatTag = 0x7777;
    EXPECT_EQ(api.waveInOpen(&hin, radioMonitorId, &bad, &window, 0, CALLBACK_WINDOW), MMRESULT{WAVERR_BADFORMAT});
    EXPECT_EQ(api.waveOutOpen(&hout, tvId, &bad, &window, 0, CALLBACK_WINDOW), MMRESULT{WAVERR_BADFORMAT});
    // Notices need somewhere to go, and window notices are all the seam knows.
    EXPECT_EQ(api.waveInOpen(&hin, radioMonitorId, &format, nullptr, 0, CALLBACK_WINDOW), MMRESULT{MMSYSERR_INVALPARAM});
    struct NoWindowYet final : IWin32WaveWindow {
        HWND Hwnd() const override { return nullptr; }
    } noWindow;
    EXPECT_EQ(api.waveOutOpen(&hout, tvId, &format, &noWindow, 0, CALLBACK_WINDOW), MMRESULT{MMSYSERR_INVALPARAM});
    EXPECT_EQ(api.waveOutOpen(&hout, tvId, &format, &window, 0, CALLBACK_WINDOW | 0x00030000u),
              MMRESULT{MMSYSERR_INVALFLAG});
    EXPECT_EQ(hin, nullptr);
    EXPECT_EQ(hout, nullptr);

    // Closed (null) handles.
    WAVEHDR header{};
    char block[64] = {};
    header.lpData = block;
    header.dwBufferLength = sizeof block;
    EXPECT_EQ(api.waveInClose(nullptr), MMRESULT{MMSYSERR_INVALHANDLE});
    EXPECT_EQ(api.waveOutClose(nullptr), MMRESULT{MMSYSERR_INVALHANDLE});
    EXPECT_EQ(api.waveInReset(nullptr), MMRESULT{MMSYSERR_INVALHANDLE});
    EXPECT_EQ(api.waveOutReset(nullptr), MMRESULT{MMSYSERR_INVALHANDLE});
    EXPECT_EQ(api.waveInPrepareHeader(nullptr, &header, kHeaderSize), MMRESULT{MMSYSERR_INVALHANDLE});
    EXPECT_EQ(api.waveOutPrepareHeader(nullptr, &header, kHeaderSize), MMRESULT{MMSYSERR_INVALHANDLE});
    EXPECT_EQ(api.waveInStart(nullptr), MMRESULT{MMSYSERR_INVALHANDLE});

    // Headers that were never prepared.
    hin = OpenIn(radioMonitorId);
    hout = OpenOut(tvId);
    ASSERT_TRUE(hin && hout);
    EXPECT_EQ(api.waveInAddBuffer(hin, &header, kHeaderSize), MMRESULT{WAVERR_UNPREPARED});
    EXPECT_EQ(api.waveOutWrite(hout, &header, kHeaderSize), MMRESULT{WAVERR_UNPREPARED});
    EXPECT_EQ(api.waveInClose(hin), MMRESULT{MMSYSERR_NOERROR});
    EXPECT_EQ(api.waveOutClose(hout), MMRESULT{MMSYSERR_NOERROR});
}

// A notice target without a window of its own gets the same messages
// through its post function, from the platform's thread.
class CQueueWindow final : public IWaveWindow {
public:
    void PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) override {
        std::lock_guard lock(mutex);
        messages.push_back({uMsg, hDevice, pwh});
    }
    struct Posted {
        uint32_t msg;
        uintptr_t device;
        WAVEHDR* header;
    };
    std::vector<Posted> Taken() {
        std::lock_guard lock(mutex);
        return messages;
    }
    std::mutex mutex;
    std::vector<Posted> messages;
};

TEST_F(WinmmStreams, WindowWithoutHandleGetsTheMessagesThroughItsPost) {
    CQueueWindow queue;
    BufferSet<3> in;
    HWAVEIN h = nullptr;
    ASSERT_EQ(api.waveInOpen(&h, radioMonitorId, &format, &queue, 0, CALLBACK_WINDOW), MMRESULT{MMSYSERR_NOERROR});
    for (auto& hdr : in.headers) {
        ASSERT_EQ(api.waveInPrepareHeader(h, &hdr, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
        ASSERT_EQ(api.waveInAddBuffer(h, &hdr, kHeaderSize), MMRESULT{MMSYSERR_NOERROR});
    }
    ASSERT_EQ(api.waveInStart(h), MMRESULT{MMSYSERR_NOERROR});
    for (int waited = 0; waited < kWaitMs && queue.Taken().size() < 4; waited += 20) Sleep(20);
    ASSERT_EQ(api.waveInReset(h), MMRESULT{MMSYSERR_NOERROR});
    ASSERT_EQ(api.waveInClose(h), MMRESULT{MMSYSERR_NOERROR});

    const auto posted = queue.Taken();
    ASSERT_EQ(posted.size(), 5u);
    EXPECT_EQ(posted[0].msg, static_cast<uint32_t>(MM_WIM_OPEN));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(posted[i + 1].msg, static_cast<uint32_t>(MM_WIM_DATA));
        EXPECT_EQ(posted[i + 1].header, &in.headers[i]);
        EXPECT_EQ(posted[i + 1].device, reinterpret_cast<uintptr_t>(h));
        EXPECT_EQ(in.headers[i].dwBytesRecorded, kBufferBytes);
    }
    EXPECT_EQ(posted[4].msg, static_cast<uint32_t>(MM_WIM_CLOSE));
    EXPECT_TRUE(window.All().empty());
}

}  // namespace
}  // namespace morvane::winmmtest
