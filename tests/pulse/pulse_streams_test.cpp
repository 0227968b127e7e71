// Capture and playback through a real server: order of completion, reset,
// result codes, and what happens when the server or a device goes away.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "audio/pulse/pulse_wave_api.h"
#include "private_server.h"
#include "waiting_window.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;
using pulsetest::CPrivateServer;
using pulsetest::CWaitingWindow;
using pulsetest::Message;
using pulsetest::SharedServer;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRadio = 1, kTv = 2;                  // playback ids
constexpr uint32_t kRadioMonitor = 1, kBusMonitor = 0;  // capture ids

WAVEFORMATEX Cd() { return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}; }

// Prepared-looking headers over blocks of `ms` milliseconds of CD audio.
struct Buffers {
    Buffers(size_t count, uint32_t ms) : headers(count), blocks(count) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t length = 176400 / 1000 * ms;
            blocks[i] = std::make_unique<char[]>(length);
            std::memset(blocks[i].get(), 0, length);
            headers[i] = WAVEHDR{blocks[i].get(), length, 0, i, 0, 0, nullptr, 0};
        }
    }
    WAVEHDR* operator[](size_t i) { return &headers[i]; }
    std::vector<WAVEHDR> headers;
    std::vector<std::unique_ptr<char[]>> blocks;
};

// Waits for `count` messages of kind `msg` and checks they carry the
// headers first..first+count-1 in that order, handed back properly.
std::vector<Message> ExpectReturned(CWaitingWindow& window, uint32_t msg, Buffers& b, size_t first,
                                    size_t count, std::chrono::milliseconds timeout) {
    std::vector<Message> got;
    for (size_t i = 0; i < count; ++i) {
        std::optional<Message> m = window.NextOf(msg, timeout);
        if (!m) {
            ADD_FAILURE() << "buffer " << first + i << " did not come back";
            break;
        }
        EXPECT_EQ(m->header, b[first + i]) << "message " << i;
        EXPECT_EQ(m->header->dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        got.push_back(*m);
    }
    return got;
}

class PulseStreams : public ::testing::Test {
protected:
    // Opens "TV" and writes all of `b` to it.
    HWAVEOUT WriteToTv(Buffers& b) {
        HWAVEOUT out = nullptr;
        EXPECT_EQ(api.waveOutOpen(&out, kTv, &format, &window, 0, CALLBACK_WINDOW), 0u);
        for (size_t i = 0; i < b.headers.size(); ++i) {
            EXPECT_EQ(api.waveOutPrepareHeader(out, b[i], sizeof(WAVEHDR)), 0u);
            EXPECT_EQ(api.waveOutWrite(out, b[i], sizeof(WAVEHDR)), 0u);
        }
        return out;
    }

    CPulseWaveApi api{SharedServer().Address()};
    CWaitingWindow window;
    WAVEFORMATEX format = Cd();
};

// Capture of a ramp played into "radio": the captured buffers, in the order
// they come back, must hold one unbroken ramp.
TEST_F(PulseStreams, CaptureFillsBuffersStrictlyInOrder) {
    CPulseWaveApi source(SharedServer().Address());
    HWAVEOUT out = nullptr;
    ASSERT_EQ(source.waveOutOpen(&out, kRadio, &format, nullptr, 0, CALLBACK_NULL), 0u);
    Buffers ramp(1, 3000);
    auto* s = reinterpret_cast<int16_t*>(ramp.blocks[0].get());
    for (uint32_t n = 0; n < ramp.headers[0].dwBufferLength / 4; ++n) {
        s[2 * n] = static_cast<int16_t>(1 + n % 30000);
        s[2 * n + 1] = static_cast<int16_t>(-(1 + static_cast<int>(n % 30000)));
    }
    ASSERT_EQ(source.waveOutPrepareHeader(out, ramp[0], sizeof(WAVEHDR)), 0u);
    ASSERT_EQ(source.waveOutWrite(out, ramp[0], sizeof(WAVEHDR)), 0u);
    std::this_thread::sleep_for(300ms);

    HWAVEIN in = nullptr;
    ASSERT_EQ(api.waveInOpen(&in, kRadioMonitor, &format, &window, 0, CALLBACK_WINDOW), 0u);
    Buffers b(12, 50);
    for (size_t i = 0; i < 12; ++i) {
        ASSERT_EQ(api.waveInPrepareHeader(in, b[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveInAddBuffer(in, b[i], sizeof(WAVEHDR)), 0u);
    }
    const auto start = Clock::now();
    ASSERT_EQ(api.waveInStart(in), 0u);
    std::vector<Message> got = ExpectReturned(window, MM_WIM_DATA, b, 0, 12, 2000ms);
    ASSERT_EQ(got.size(), 12u);

    std::vector<int16_t> all;
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(b.headers[i].dwBytesRecorded, b.headers[i].dwBufferLength);
        const auto* p = reinterpret_cast<const int16_t*>(b.blocks[i].get());
        all.insert(all.end(), p, p + b.headers[i].dwBytesRecorded / 2);
    }
    size_t breaks = 0;
    for (size_t k = 2; k < all.size(); k += 2) {
        const int expect = all[k - 2] % 30000 + 1;
        if (all[k] != expect || all[k + 1] != -expect) ++breaks;
    }
    EXPECT_EQ(breaks, 0u) << "first sample " << all[0];
    EXPECT_NE(all[0], 0) << "the ramp did not reach the capture";

    const double span = std::chrono::duration<double, std::milli>(got.back().when - start).count();
    std::printf("[ figure ] capture: 12 x 50 ms buffers back %.1f ms after start (%.1f ms late)\n",
                span, span - 600.0);
    EXPECT_EQ(api.waveInClose(in), 0u);
    source.waveOutReset(out);
    source.waveOutClose(out);
}

TEST_F(PulseStreams, PlaybackCompletesInOrderOnceHeard) {
    Buffers b(6, 100);
    const auto start = Clock::now();
    HWAVEOUT out = WriteToTv(b);
    ASSERT_FALSE(HasFailure());
    std::vector<Message> got = ExpectReturned(window, MM_WOM_DONE, b, 0, 6, 3000ms);
    ASSERT_EQ(got.size(), 6u);
    // Not merely handed to the server: buffer i cannot be over before
    // (i + 1) x 100 ms of sound has been played.
    for (size_t i = 0; i < 6; ++i) {
        const double ms = std::chrono::duration<double, std::milli>(got[i].when - start).count();
        EXPECT_GT(ms, 100.0 * static_cast<double>(i + 1) - 30.0) << "buffer " << i;
        std::printf("[ figure ] playback buffer %zu done at %.1f ms (ends at %zu ms)\n", i, ms,
                    (i + 1) * 100);
    }
    EXPECT_EQ(api.waveOutClose(out), 0u);
}

// Playback written well after the last captured buffer came in starts that
// late into its sound: the lateness is left out once, even where it spans
// whole buffers, and the rest is heard. (Each buffer once counted as a new
// run, late again, and was left out in turn: "playing" in silence.)
TEST_F(PulseStreams, PlaybackStartedLateLeavesTheLatenessOutOnceAndPlaysTheRest) {
    HWAVEIN in = nullptr;
    ASSERT_EQ(api.waveInOpen(&in, kRadioMonitor, &format, &window, 0, CALLBACK_WINDOW), 0u);
    Buffers captured(1, 50);
    ASSERT_EQ(api.waveInPrepareHeader(in, captured[0], sizeof(WAVEHDR)), 0u);
    ASSERT_EQ(api.waveInAddBuffer(in, captured[0], sizeof(WAVEHDR)), 0u);
    ASSERT_EQ(api.waveInStart(in), 0u);
    ASSERT_TRUE(window.NextOf(MM_WIM_DATA, 2000ms));
    std::this_thread::sleep_for(250ms);

    Buffers b(6, 100);
    const auto start = Clock::now();
    HWAVEOUT out = WriteToTv(b);
    ASSERT_FALSE(HasFailure());
    const double lateMs = static_cast<double>(api.LastPlaybackCompensationUsec(out)) / 1000.0;
    EXPECT_GE(lateMs, 240.0) << "the run should start where the capture would have it";
    std::vector<Message> got = ExpectReturned(window, MM_WOM_DONE, b, 0, 6, 3000ms);
    ASSERT_EQ(got.size(), 6u);
    const double lastMs = std::chrono::duration<double, std::milli>(got.back().when - start).count();
    std::printf("[ figure ] 600 ms written %.1f ms late: the last buffer done after %.1f ms\n", lateMs,
                lastMs);
    EXPECT_GT(lastMs, 600.0 - lateMs - 60.0) << "what was not late must be heard";
    EXPECT_EQ(api.waveInReset(in), 0u);
    EXPECT_EQ(api.waveInClose(in), 0u);
    EXPECT_EQ(api.waveOutClose(out), 0u);
}

TEST_F(PulseStreams, CaptureResetReturnsEveryBufferInOrderBeforeReturning) {
    HWAVEIN in = nullptr;
    ASSERT_EQ(api.waveInOpen(&in, kBusMonitor, &format, &window, 0, CALLBACK_WINDOW), 0u);
    Buffers b(8, 100);
    for (size_t i = 0; i < 8; ++i) {
        ASSERT_EQ(api.waveInPrepareHeader(in, b[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveInAddBuffer(in, b[i], sizeof(WAVEHDR)), 0u);
    }
    ASSERT_EQ(api.waveInStart(in), 0u);
    ASSERT_EQ(ExpectReturned(window, MM_WIM_DATA, b, 0, 1, 2000ms).size(), 1u);
    std::this_thread::sleep_for(30ms);  // buffer 1 is part filled
    ASSERT_EQ(api.waveInReset(in), 0u);
    std::deque<Message> back = window.TakeAll();
    std::vector<WAVEHDR*> order;
    for (const Message& m : back) {
        EXPECT_EQ(m.device, reinterpret_cast<uintptr_t>(in));
        if (m.msg == MM_WIM_DATA) order.push_back(m.header);
    }
    ASSERT_EQ(order.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(order[i], b[i + 1]);
        EXPECT_EQ(order[i]->dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    }
    EXPECT_GT(b.headers[1].dwBytesRecorded, 0u);
    EXPECT_LT(b.headers[1].dwBytesRecorded, b.headers[1].dwBufferLength);
    EXPECT_EQ(b.headers[7].dwBytesRecorded, 0u);

    // Reset leaves the device stopped; queueing and starting runs it again.
    std::this_thread::sleep_for(150ms);
    EXPECT_TRUE(window.TakeAll().empty());
    ASSERT_EQ(api.waveInAddBuffer(in, b[0], sizeof(WAVEHDR)), 0u);
    ASSERT_EQ(api.waveInStart(in), 0u);
    EXPECT_EQ(ExpectReturned(window, MM_WIM_DATA, b, 0, 1, 2000ms).size(), 1u);
    EXPECT_EQ(b.headers[0].dwBytesRecorded, b.headers[0].dwBufferLength);
    EXPECT_EQ(api.waveInClose(in), 0u);
}

TEST_F(PulseStreams, PlaybackResetReturnsEveryBufferInOrderBeforeReturning) {
    HWAVEOUT out = nullptr;
    ASSERT_EQ(api.waveOutOpen(&out, kTv, &format, &window, 0, CALLBACK_WINDOW), 0u);
    Buffers b(8, 100);
    for (size_t i = 0; i < 8; ++i) {
        ASSERT_EQ(api.waveOutPrepareHeader(out, b[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveOutWrite(out, b[i], sizeof(WAVEHDR)), 0u);
    }
    std::this_thread::sleep_for(250ms);
    const auto before = Clock::now();
    ASSERT_EQ(api.waveOutReset(out), 0u);
    const double resetMs = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
    std::deque<Message> back = window.TakeAll();
    std::vector<WAVEHDR*> order;
    for (const Message& m : back) {
        EXPECT_EQ(m.device, reinterpret_cast<uintptr_t>(out));
        if (m.msg == MM_WOM_DONE) order.push_back(m.header);
    }
    ASSERT_EQ(order.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(order[i], b[i]);
        EXPECT_EQ(order[i]->dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    }
    std::printf("[ figure ] playback reset took %.2f ms\n", resetMs);

    // A new run after the reset plays and completes normally.
    for (size_t i = 0; i < 2; ++i) ASSERT_EQ(api.waveOutWrite(out, b[i], sizeof(WAVEHDR)), 0u);
    EXPECT_EQ(ExpectReturned(window, MM_WOM_DONE, b, 0, 2, 2000ms).size(), 2u);
    EXPECT_EQ(api.waveOutClose(out), 0u);
}

TEST_F(PulseStreams, ResultCodesFollowTheWaveApi) {
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(api.waveInOpen(&in, kBusMonitor, &format, &window, 0, CALLBACK_WINDOW), 0u);
    ASSERT_EQ(api.waveOutOpen(&out, kTv, &format, &window, 0, CALLBACK_WINDOW), 0u);
    Buffers b(2, 500);
    const uint32_t size = sizeof(WAVEHDR);

    // Unprepared headers are refused; a handle of the other kind is no handle.
    EXPECT_EQ(api.waveInAddBuffer(in, b[0], size), static_cast<MMRESULT>(WAVERR_UNPREPARED));
    EXPECT_EQ(api.waveOutWrite(out, b[1], size), static_cast<MMRESULT>(WAVERR_UNPREPARED));
    EXPECT_EQ(api.waveInPrepareHeader(in, b[0], size - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(api.waveOutClose(reinterpret_cast<HWAVEOUT>(in)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(api.waveInReset(reinterpret_cast<HWAVEIN>(out)), MMSYSERR_INVALHANDLE);

    ASSERT_EQ(api.waveInPrepareHeader(in, b[0], size), 0u);
    ASSERT_EQ(api.waveOutPrepareHeader(out, b[1], size), 0u);
    EXPECT_EQ(b.headers[0].dwFlags, WHDR_PREPARED);
    ASSERT_EQ(api.waveInAddBuffer(in, b[0], size), 0u);
    ASSERT_EQ(api.waveOutWrite(out, b[1], size), 0u);
    // Queued: not again, not unprepared, and the device does not close.
    EXPECT_EQ(api.waveInAddBuffer(in, b[0], size), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(api.waveOutWrite(out, b[1], size), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(api.waveInUnprepareHeader(in, b[0], size), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(api.waveOutUnprepareHeader(out, b[1], size),
              static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(api.waveInClose(in), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(api.waveOutClose(out), static_cast<MMRESULT>(WAVERR_STILLPLAYING));

    EXPECT_EQ(api.waveInReset(in), 0u);
    EXPECT_EQ(api.waveOutReset(out), 0u);
    EXPECT_EQ(api.waveInUnprepareHeader(in, b[0], size), 0u);
    EXPECT_EQ(b.headers[0].dwFlags, WHDR_DONE);
    EXPECT_EQ(api.waveInClose(in), 0u);
    EXPECT_EQ(api.waveOutClose(out), 0u);

    // Closed and null handles.
    for (HWAVEIN h : {in, static_cast<HWAVEIN>(nullptr)}) {
        EXPECT_EQ(api.waveInClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveInPrepareHeader(h, b[0], size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveInUnprepareHeader(h, b[0], size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveInAddBuffer(h, b[0], size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveInStart(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveInStop(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveInReset(h), MMSYSERR_INVALHANDLE);
    }
    for (HWAVEOUT h : {out, static_cast<HWAVEOUT>(nullptr)}) {
        EXPECT_EQ(api.waveOutClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveOutPrepareHeader(h, b[1], size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveOutUnprepareHeader(h, b[1], size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveOutWrite(h, b[1], size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(api.waveOutReset(h), MMSYSERR_INVALHANDLE);
    }
    // Every message was posted, each once, and nothing after its close.
    std::vector<uint32_t> msgs;
    for (const Message& m : window.TakeAll()) msgs.push_back(m.msg);
    EXPECT_EQ(msgs, (std::vector<uint32_t>{MM_WIM_OPEN, MM_WOM_OPEN, MM_WIM_DATA, MM_WOM_DONE,
                                           MM_WIM_CLOSE, MM_WOM_CLOSE}));
}

TEST_F(PulseStreams, StopReturnsThePartFilledBufferOnly) {
    HWAVEIN in = nullptr;
    ASSERT_EQ(api.waveInOpen(&in, kBusMonitor, &format, &window, 0, CALLBACK_WINDOW), 0u);
    Buffers b(3, 500);
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(api.waveInPrepareHeader(in, b[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveInAddBuffer(in, b[i], sizeof(WAVEHDR)), 0u);
    }
    ASSERT_EQ(api.waveInStart(in), 0u);
    std::this_thread::sleep_for(150ms);
    ASSERT_EQ(api.waveInStop(in), 0u);
    std::optional<Message> m = window.NextOf(MM_WIM_DATA, 0ms);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->header, b[0]);
    EXPECT_GT(b.headers[0].dwBytesRecorded, 0u);
    EXPECT_LT(b.headers[0].dwBytesRecorded, b.headers[0].dwBufferLength);
    EXPECT_EQ(api.waveInClose(in), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(api.waveInReset(in), 0u);
    EXPECT_EQ(ExpectReturned(window, MM_WIM_DATA, b, 1, 2, 0ms).size(), 2u);
    EXPECT_EQ(api.waveInClose(in), 0u);
}

// A server killed outright: every queued buffer comes back, calls fail with a
// code and nothing hangs; once a server runs again, opening works again.
TEST(PulseFailures, ServerKilledWhileStreaming) {
    CPrivateServer server;
    ASSERT_TRUE(server.Start());
    CPulseWaveApi api(server.Address());
    CWaitingWindow inWindow, outWindow;
    const WAVEFORMATEX f = Cd();
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(api.waveInOpen(&in, kRadioMonitor, &f, &inWindow, 0, CALLBACK_WINDOW), 0u);
    ASSERT_EQ(api.waveOutOpen(&out, kTv, &f, &outWindow, 0, CALLBACK_WINDOW), 0u);
    Buffers ins(6, 100), outs(6, 500);
    for (size_t i = 0; i < 6; ++i) {
        ASSERT_EQ(api.waveInPrepareHeader(in, ins[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveInAddBuffer(in, ins[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveOutPrepareHeader(out, outs[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveOutWrite(out, outs[i], sizeof(WAVEHDR)), 0u);
    }
    ASSERT_EQ(api.waveInStart(in), 0u);
    ASSERT_EQ(ExpectReturned(inWindow, MM_WIM_DATA, ins, 0, 2, 2000ms).size(), 2u);

    ASSERT_TRUE(server.Kill());
    const auto killed = Clock::now();
    EXPECT_EQ(ExpectReturned(inWindow, MM_WIM_DATA, ins, 2, 4, 5000ms).size(), 4u);
    EXPECT_EQ(ExpectReturned(outWindow, MM_WOM_DONE, outs, 0, 6, 5000ms).size(), 6u);
    std::printf("[ figure ] buffers back %.1f ms after the server was killed\n",
                std::chrono::duration<double, std::milli>(Clock::now() - killed).count());

    EXPECT_EQ(api.waveInAddBuffer(in, ins[0], sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(api.waveOutWrite(out, outs[0], sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_EQ(api.waveInReset(in), 0u);
    EXPECT_EQ(api.waveInClose(in), 0u);
    EXPECT_EQ(api.waveOutClose(out), 0u);
    EXPECT_EQ(api.waveOutOpen(&out, kTv, &f, &outWindow, 0, CALLBACK_WINDOW), MMSYSERR_NODRIVER);
    EXPECT_EQ(api.waveInGetNumDevs(), 0u);

    ASSERT_TRUE(server.Start());
    ASSERT_EQ(api.waveOutOpen(&out, kTv, &f, &outWindow, 0, CALLBACK_WINDOW), 0u);
    EXPECT_EQ(api.waveOutGetNumDevs(), 4u);
    ASSERT_EQ(api.waveOutWrite(out, outs[0], sizeof(WAVEHDR)), 0u);
    EXPECT_EQ(ExpectReturned(outWindow, MM_WOM_DONE, outs, 0, 1, 3000ms).size(), 1u);
    EXPECT_EQ(api.waveOutClose(out), 0u);
}

// A sink unloaded under a playing stream and its monitor's capture: the
// buffers come back one way or another, and the devices still close.
TEST(PulseFailures, DeviceRemovedWhileInUse) {
    CPulseWaveApi api(SharedServer().Address());
    const std::string module = SharedServer().Output(
        "pactl load-module module-null-sink sink_name=gone "
        "sink_properties=device.description=Gone");
    ASSERT_FALSE(module.empty());
    uint32_t id = UINT32_MAX;
    for (int tries = 0; tries < 200 && id == UINT32_MAX; ++tries) {
        for (uint32_t i = 0, n = api.waveOutGetNumDevs(); i < n; ++i) {
            std::string name;
            if (api.waveOutGetDevName(i, &name) == 0 && name == "Gone") id = i;
        }
        if (id == UINT32_MAX) std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(id, UINT32_MAX);
    CWaitingWindow inWindow, outWindow;
    const WAVEFORMATEX f = Cd();
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(api.waveOutOpen(&out, id, &f, &outWindow, 0, CALLBACK_WINDOW), 0u);
    ASSERT_EQ(api.waveInOpen(&in, id, &f, &inWindow, 0, CALLBACK_WINDOW), 0u);  // its monitor
    Buffers ins(4, 300), outs(4, 300);
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(api.waveInPrepareHeader(in, ins[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveInAddBuffer(in, ins[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveOutPrepareHeader(out, outs[i], sizeof(WAVEHDR)), 0u);
        ASSERT_EQ(api.waveOutWrite(out, outs[i], sizeof(WAVEHDR)), 0u);
    }
    ASSERT_EQ(api.waveInStart(in), 0u);
    std::this_thread::sleep_for(100ms);
    SharedServer().Run("pactl unload-module " + module);
    EXPECT_EQ(ExpectReturned(outWindow, MM_WOM_DONE, outs, 0, 4, 5000ms).size(), 4u);
    // A capture stream may be moved to another source and go on; reset
    // brings back whatever is still queued.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(api.waveInReset(in), 0u);
    EXPECT_EQ(ExpectReturned(inWindow, MM_WIM_DATA, ins, 0, 4, 0ms).size(), 4u);
    EXPECT_EQ(api.waveInClose(in), 0u);
    EXPECT_EQ(api.waveOutClose(out), 0u);
}

}  // namespace
}  // namespace morvane
