#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "audio/voice_playing.h"
#include "audio/voice_recording.h"
#include "support/message_pump.h"
#include "support/sim_wave_api.h"

using namespace morvane;
using morvane::sim::CMessagePump;
using morvane::sim::CSimWaveApi;

namespace {
struct Wrappers : ::testing::Test {
    CSimWaveApi sim;
    CMessagePump window;
    CVoiceRecording recorder{sim};
    CVoicePlaying player{sim};

    Wrappers() {
        sim.AddCaptureDevice("In 0");
        sim.AddCaptureDevice("In 1");
        sim.AddPlaybackDevice("Out 0");
        sim.AddPlaybackDevice("Broken", /*failsToOpen=*/true);
        recorder.SetFormat(44100, 16, 2);
        player.SetFormat(44100, 16, 2);
        sim.EnableCallLog(true);
    }
};
}  // namespace

TEST(VoiceFormat, DefaultsAndBufferArithmetic) {
    CSimWaveApi sim;
    sim.EnableCallLog(true);
    {
        CVoiceRecording r(sim);
        const WAVEFORMATEX& f = r.Format();
        EXPECT_EQ(f.wFormatTag, 1);
        EXPECT_EQ(f.nChannels, 1);
        EXPECT_EQ(f.nSamplesPerSec, 8000u);
        EXPECT_EQ(f.nAvgBytesPerSec, 8000u);
        EXPECT_EQ(f.nBlockAlign, 1);
        EXPECT_EQ(f.wBitsPerSample, 8);
        for (uint32_t i = 0; i < kBufferCount; ++i) ASSERT_EQ(r.Block(i), nullptr);
        EXPECT_EQ(r.BufferLength(0.1f), 800u);

        r.SetFormat(44100, 16, 2);
        EXPECT_EQ(r.Format().nBlockAlign, 4);
        EXPECT_EQ(r.Format().nAvgBytesPerSec, 176400u);
        EXPECT_EQ(r.BufferLength(0.1f), 17640u);
        EXPECT_EQ(r.BufferLength(1.0f), 176400u);
        // Not rounded to whole frames: the single-precision product truncates.
        EXPECT_EQ(r.BufferLength(0.00001f), 1u);
        EXPECT_EQ(r.BufferLength(0.0f), 0u);
    }
    EXPECT_TRUE(sim.Calls().empty());  // a wrapper that never opened calls nothing
}

TEST_F(Wrappers, OpenIsRefusedWhileOpenAndClosedCallsFail) {
    EXPECT_EQ(recorder.Open(&window, 1), 1);
    EXPECT_EQ(recorder.DeviceId(), 1u);
    sim.ClearCalls();
    EXPECT_EQ(recorder.Open(&window, 0), 0);
    EXPECT_TRUE(sim.Calls().empty());
    EXPECT_EQ(recorder.DeviceId(), 1u);
    EXPECT_EQ(recorder.LastResult(), 0u);

    EXPECT_EQ(player.Close(), 0);  // never opened
    EXPECT_EQ(player.LastResult(), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.LastReport(), std::string(WaveResultText(MMSYSERR_INVALHANDLE)) + " line: 466\n");
    EXPECT_EQ(player.Reset(), 0);

    // Add and Write on a closed wrapper make no call and keep the last result.
    sim.ClearCalls();
    EXPECT_EQ(player.Write(0), 0);
    EXPECT_EQ(player.LastResult(), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    CVoiceRecording closed(sim);
    EXPECT_EQ(closed.AddBuffer(0), 0);
    EXPECT_TRUE(sim.Calls().empty());

    EXPECT_EQ(player.Open(&window, 1), 0);  // the broken device
    EXPECT_EQ(player.LastResult(), static_cast<MMRESULT>(MMSYSERR_ALLOCATED));
    EXPECT_EQ(player.Open(&window, 7), 0);
    EXPECT_EQ(player.LastResult(), static_cast<MMRESULT>(MMSYSERR_BADDEVICEID));
    EXPECT_EQ(player.Open(&window, WAVE_MAPPER), 1);
}

TEST_F(Wrappers, PrepareHandsOverAFreshSilentBlockEveryTime) {
    ASSERT_EQ(player.Open(&window, 0), 1);
    ASSERT_EQ(player.PrepareBuffer(7, 0.1f), 1);
    const WAVEHDR& h = player.Header(7);
    EXPECT_EQ(h.dwUser, 7u);
    EXPECT_EQ(h.dwBufferLength, 17640u);
    EXPECT_EQ(h.lpData, player.Block(7));
    EXPECT_TRUE(h.dwFlags & WHDR_PREPARED);

    std::memset(player.Block(7), 0x55, 17640);
    ASSERT_EQ(player.Write(7), 1);
    sim.AdvanceTo(10000);  // played and done
    EXPECT_TRUE(h.dwFlags & WHDR_DONE);

    // A failing unprepare keeps the block; the next prepare replaces it.
    sim.FailNext("waveOutUnprepareHeader", MMSYSERR_ERROR);
    EXPECT_EQ(player.UnprepareBuffer(7), 0);
    EXPECT_NE(player.Block(7), nullptr);
    ASSERT_EQ(player.PrepareBuffer(7, 0.1f), 1);
    EXPECT_EQ(h.dwFlags, static_cast<uint32_t>(WHDR_PREPARED));  // cleared, then prepared
    const char* b = player.Block(7);
    EXPECT_TRUE(std::all_of(b, b + 17640, [](char c) { return c == 0; }));

    EXPECT_EQ(player.UnprepareBuffer(7), 1);
    EXPECT_EQ(player.Block(7), nullptr);
}

TEST_F(Wrappers, EveryAddStartsCaptureAndAFailedAddDoesNot) {
    ASSERT_EQ(recorder.Open(&window, 0), 1);
    recorder.PrepareBuffer(0, 0.1f);
    recorder.PrepareBuffer(1, 0.1f);
    sim.ClearCalls();
    EXPECT_EQ(recorder.AddBuffer(0), 1);
    EXPECT_EQ(recorder.Reset(), 1);
    sim.FailNext("waveInAddBuffer", MMSYSERR_NOMEM);
    EXPECT_EQ(recorder.AddBuffer(1), 0);
    EXPECT_EQ(recorder.AddBuffer(1), 1);
    const std::vector<std::string> expected = {
        "waveInAddBuffer 0", "waveInStart", "waveInReset", "waveInAddBuffer 1",
        "waveOutGetErrorTextA", "waveInAddBuffer 1", "waveInStart"};
    EXPECT_EQ(sim.Calls(), expected);
    sim.AdvanceTo(4410);
    EXPECT_TRUE(recorder.Header(1).dwFlags & WHDR_DONE);  // capture ran after the reset
}

TEST_F(Wrappers, CopyTakesTheBufferLengthWhateverWasRecorded) {
    recorder.Open(&window, 0);
    player.Open(&window, 0);
    recorder.PrepareBuffer(3, 0.1f);
    player.PrepareBuffer(3, 0.1f);
    for (uint32_t k = 0; k < 17640; ++k) recorder.Block(3)[k] = static_cast<char>(k * 7);
    EXPECT_EQ(recorder.Header(3).dwBytesRecorded, 0u);
    EXPECT_EQ(player.CopyBuffer(3, recorder.Block(3), 0.1f), 1);
    EXPECT_EQ(std::memcmp(player.Block(3), recorder.Block(3), 17640), 0);
}

TEST_F(Wrappers, ClosingWithQueuedBuffersFailsAndDestructionReturnsThem) {
    {
        CVoiceRecording r(sim);
        r.SetFormat(44100, 16, 2);
        ASSERT_EQ(r.Open(&window, 0), 1);
        r.PrepareBuffer(0, 0.1f);
        r.PrepareBuffer(1, 0.1f);
        r.AddBuffer(0);
        r.AddBuffer(1);
        EXPECT_EQ(r.Close(), 0);
        EXPECT_EQ(r.LastResult(), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
        EXPECT_TRUE(r.IsOpen());
        // An unprepare of a queued header fails and keeps the block.
        EXPECT_EQ(r.UnprepareBuffer(0), 0);
        EXPECT_NE(r.Block(0), nullptr);
    }
    // The destructor gave the queued blocks back before freeing them.
    EXPECT_EQ(sim.OpenStreams(), 0u);
    EXPECT_EQ(sim.QueuedBuffers(), 0u);
}
