#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/delay_text.h"
#include "resource.h"
#include "support/engine_rig.h"
#include "support/failing_allocation.h"

using namespace morvane;
using namespace morvane::sim;

namespace {
constexpr uint64_t B = kBufferFrames;

std::vector<std::string> Matching(const std::vector<std::string>& calls, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}

struct Engine : ::testing::Test {
    EngineRig rig;
    CDelayEngine& engine = rig.engine;

    // Sets the delay before the first Play, as the start-up does.
    void StartWith(uint32_t count, uint64_t at = 0) {
        rig.SlideTo(count);
        rig.Run(at);
        rig.CheckOutput();
        engine.Play();
    }
};
}  // namespace

class ExactDelay : public Engine, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ExactDelay, OutputIsTheInputExactlyTheDelayLater) {
    const uint32_t d = GetParam();
    const uint64_t playAt = 1234;  // not on a buffer boundary
    StartWith(d, playAt);
    rig.Run((d + 40) * B);

    EXPECT_EQ(rig.checker.firstSound, playAt + d * B);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
    EXPECT_EQ(rig.checker.playedFrames, 40 * B);
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
    EXPECT_EQ(rig.sim.OverrunFrames(), 0u);
    EXPECT_EQ(engine.ReceivedCount(), d + 1);
    EXPECT_EQ(engine.OutstandingCaptures(), d + 1);
    // The fill indicator stopped at delay count - 1, where playback began.
    EXPECT_EQ(rig.controls.selEnd, static_cast<int>(d - 1));
    EXPECT_EQ(rig.controls.selUpdates, static_cast<int>(d));
}

INSTANTIATE_TEST_SUITE_P(Counts, ExactDelay, ::testing::Values(1u, 3u, 10u, 299u));

TEST_F(Engine, DelayCountOneHasNoReserve) {
    // Notifications that reach the UI thread up to 10 ms late, in order. With
    // one buffer held back each write comes just as the previous buffer ends,
    // so every later notification than the one before shows as a gap; with
    // two the player always has one buffer in hand.
    rig.sim.SetNotificationJitter(441, 7);
    StartWith(1);
    rig.Run(200 * B);
    EXPECT_GT(rig.sim.UnderrunFrames(), 0u);

    EngineRig two;
    two.sim.SetNotificationJitter(441, 7);
    two.SlideTo(2);
    two.engine.Play();
    two.Run(200 * B);
    EXPECT_EQ(two.sim.UnderrunFrames(), 0u);
}

TEST_F(Engine, WorkedTimelineForThreeTenths) {
    rig.sim.EnableCallLog(true);
    StartWith(3);
    EXPECT_EQ(Matching(rig.sim.Calls(), "waveInAddBuffer"),
              (std::vector<std::string>{"waveInAddBuffer 0", "waveInAddBuffer 1", "waveInAddBuffer 2",
                                        "waveInAddBuffer 3"}));
    struct Row {
        std::vector<std::string> writes;
        uint32_t receivedAfter;
        int fillEnd;
    };
    const Row rows[] = {
        {{}, 1, 0},
        {{}, 2, 1},
        {{"waveOutWrite 0", "waveOutWrite 1", "waveOutWrite 2"}, 3, 2},
        {{"waveOutWrite 3"}, 4, 2},
        {{"waveOutWrite 0"}, 4, 2},
        {{"waveOutWrite 1"}, 4, 2},
    };
    for (int k = 0; k < 6; ++k) {
        rig.sim.ClearCalls();
        rig.Run(B);
        EXPECT_EQ(Matching(rig.sim.Calls(), "waveOutWrite"), rows[k].writes) << "arrival " << k + 1;
        EXPECT_EQ(Matching(rig.sim.Calls(), "waveInAddBuffer"),
                  std::vector<std::string>{"waveInAddBuffer " + std::to_string(k % 4)});
        EXPECT_EQ(engine.ReceivedCount(), rows[k].receivedAfter);
        EXPECT_EQ(rig.controls.selEnd, rows[k].fillEnd);
    }
    EXPECT_EQ(rig.controls.selUpdates, 3);
    EXPECT_EQ(rig.checker.firstSound, 3 * B);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
}

TEST_F(Engine, RestartWhileRunningDrainsAndRefills) {
    StartWith(3);
    rig.Run(10 * B + B / 2);
    rig.controls.progress[IDC_OUTPUT_LEFT] = 123;
    const uint64_t changeAt = rig.sim.Now();
    rig.sim.EnableCallLog(true);
    rig.SlideTo(5);
    EXPECT_EQ(engine.RestartCountdown(), 3u);
    EXPECT_EQ(engine.DelayCount(), 5u);
    EXPECT_TRUE(engine.IsDraining());
    EXPECT_EQ(rig.controls.text, "0.5");
    EXPECT_EQ(rig.pump.Pending(), 4u + 3u);  // four capture and three playback buffers came back

    std::vector<uint32_t> countdowns;
    while (rig.pump.PumpOne()) countdowns.push_back(engine.RestartCountdown());
    // Captures come back first (2, 1, 0, then the set is queued and the count
    // wraps), then the returned playback buffers.
    EXPECT_EQ(countdowns[0], 2u);
    EXPECT_EQ(countdowns[1], 1u);
    EXPECT_EQ(countdowns[2], 0u);
    EXPECT_EQ(countdowns[3], UINT32_MAX);
    EXPECT_FALSE(engine.IsDraining());
    EXPECT_EQ(engine.OutstandingCaptures(), 6u);
    EXPECT_EQ(rig.controls.progress[IDC_OUTPUT_LEFT], 0);
    EXPECT_EQ(rig.controls.progress[IDC_INPUT_LEFT], 0);

    rig.checker.firstSound = UINT64_MAX;
    rig.Run(30 * B);
    EXPECT_EQ(rig.checker.firstSound, changeAt + 5 * B);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
    EXPECT_EQ(rig.controls.selEnd, 4);
}

TEST_F(Engine, ChangeWhileFillingUsesTheOldCountForTheDrain) {
    StartWith(10);
    rig.Run(3 * B + 100);
    const uint64_t changeAt = rig.sim.Now();
    rig.Type(".4");
    EXPECT_EQ(engine.RestartCountdown(), 10u);
    rig.Run(1);
    EXPECT_FALSE(engine.IsDraining());
    EXPECT_EQ(engine.OutstandingCaptures(), 5u);
    rig.Run(20 * B);
    EXPECT_EQ(rig.checker.firstSound, changeAt + 4 * B);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
}

TEST_F(Engine, SecondChangeBeforeTheDrainArrivesNeverStalls) {
    // Input that reaches the window before the buffers a reset returned: the
    // countdown alone would wait for buffers that never come.
    StartWith(3);
    rig.Run(8 * B);
    rig.SlideTo(5);
    rig.pump.PumpOne();  // one of the four returned captures
    const uint64_t changeAt = rig.sim.Now();
    rig.checker.firstSound = UINT64_MAX;
    rig.SlideTo(7);
    EXPECT_EQ(engine.RestartCountdown(), 5u);  // loaded with the previous change's count
    rig.pump.Pump();
    EXPECT_FALSE(engine.IsDraining());
    EXPECT_EQ(engine.OutstandingCaptures(), 8u);
    rig.Run(20 * B);
    EXPECT_EQ(rig.checker.firstSound, changeAt + 7 * B);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
}

TEST_F(Engine, ChangesBeforeTheFirstPlayOnlySetTheFields) {
    rig.sim.EnableCallLog(true);
    rig.SlideTo(50);
    EXPECT_EQ(engine.DelayCount(), 50u);
    EXPECT_EQ(engine.RestartCountdown(), 30u);
    EXPECT_TRUE(engine.IsDraining());
    EXPECT_FALSE(engine.IsPlaying());
    EXPECT_EQ(rig.sim.Calls(), (std::vector<std::string>{"waveInReset", "waveOutGetErrorTextA",
                                                         "waveOutReset", "waveOutGetErrorTextA"}));
    int graphs = 0;
    engine.SetTunerGraphBuilder([&] { ++graphs; });
    engine.Play();
    EXPECT_FALSE(engine.IsDraining());
    EXPECT_EQ(engine.RestartCountdown(), 0u);
    EXPECT_EQ(engine.OutstandingCaptures(), 51u);
    EXPECT_EQ(graphs, 1);
    EXPECT_TRUE(engine.GraphBuilt());
}

TEST_F(Engine, StopThenPlayStartsAfresh) {
    StartWith(10);
    rig.Run(25 * B);
    rig.sim.EnableCallLog(true);
    engine.Play();  // while playing: nothing
    EXPECT_TRUE(rig.sim.Calls().empty());

    engine.Stop();
    EXPECT_FALSE(engine.IsPlaying());
    EXPECT_EQ(engine.RestartCountdown(), UINT32_MAX);
    rig.controls.progress[IDC_INPUT_LEFT] = 77;
    rig.pump.Pump();
    EXPECT_EQ(engine.OutstandingCaptures(), 0u);
    EXPECT_EQ(engine.RestartCountdown(), UINT32_MAX - 11);
    EXPECT_EQ(rig.controls.progress[IDC_INPUT_LEFT], 0);
    EXPECT_EQ(rig.controls.selEnd, 9);  // the band keeps its extent
    rig.Run(5 * B);
    EXPECT_EQ(rig.sim.QueuedBuffers(), 0u);  // capture is not restarted

    rig.sim.ClearCalls();
    engine.Stop();  // while stopped: nothing
    EXPECT_TRUE(rig.sim.Calls().empty());

    const uint64_t playAt = rig.sim.Now();
    rig.checker.firstSound = UINT64_MAX;
    engine.Play();
    const auto& calls = rig.sim.Calls();
    ASSERT_GE(calls.size(), 4u + 1200u + 22u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
              (std::vector<std::string>{"waveInClose", "waveOutClose", "waveInOpen", "waveOutOpen"}));
    EXPECT_EQ(Matching(calls, "waveInPrepareHeader").size(), 300u);
    EXPECT_EQ(Matching(calls, "waveOutPrepareHeader").size(), 300u);
    EXPECT_EQ(Matching(calls, "waveInAddBuffer").size(), 11u);
    EXPECT_EQ(engine.ReceivedCount(), 0u);
    rig.Run(20 * B);
    EXPECT_EQ(rig.controls.selUpdates, 20);  // filled from 0 again
    EXPECT_EQ(rig.checker.firstSound, playAt + 10 * B);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
}

TEST_F(Engine, StopAndPlayBeforeTheReturnedBuffersArrive) {
    // The returned buffers of Stop reach the window after the next Play; they
    // must neither be copied nor requeued on the reopened device.
    StartWith(4);
    rig.Run(9 * B);
    engine.Stop();
    const uint64_t playAt = rig.sim.Now();
    rig.checker.firstSound = UINT64_MAX;
    engine.Play();
    rig.pump.Pump();
    EXPECT_EQ(engine.OutstandingCaptures(), 5u);
    EXPECT_EQ(engine.ReceivedCount(), 0u);
    rig.Run(20 * B);
    EXPECT_EQ(rig.checker.firstSound, playAt + 4 * B);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
}

TEST_F(Engine, SliderActsOnThumbTrackAndEndTrackOnly) {
    StartWith(10);
    rig.Run(15 * B);
    rig.controls.sliderPos = 42;
    rig.controls.log.clear();
    engine.OnHScroll(1);  // line down
    engine.OnHScroll(3);  // page down
    engine.OnHScroll(4 | (42u << 16));  // thumb position
    EXPECT_EQ(engine.DelayCount(), 10u);
    EXPECT_TRUE(rig.controls.log.empty());

    engine.OnHScroll(kTbThumbTrack | (42u << 16));
    EXPECT_EQ(engine.DelayCount(), 42u);
    EXPECT_EQ(rig.controls.text, "4.2");
    EXPECT_EQ(engine.RestartCountdown(), 10u);
    // The nested update rule found the text canonical and restarted nothing.
    EXPECT_EQ(Matching(rig.controls.log, "TrackbarSetPos").size(), 0u);
    engine.OnHScroll(kTbEndTrack);  // same position: restarts again
    EXPECT_EQ(engine.RestartCountdown(), 42u);
}

TEST_F(Engine, DelayBoxRewritesNonCanonicalTextAtOnce) {
    rig.controls.text = "1.0";
    rig.controls.log.clear();
    engine.OnDelayUpdate();  // canonical: nothing happens
    EXPECT_EQ(rig.controls.log, std::vector<std::string>{"GetText 1006"});
    EXPECT_FALSE(engine.IsDraining());

    rig.controls.log.clear();
    rig.controls.editSelStart = rig.controls.editSelEnd = 1;  // caret after the typed 5
    rig.Type("5");
    EXPECT_EQ(rig.controls.log,
              (std::vector<std::string>{"GetText 1006", "EditGetSel 1006", "TrackbarSetPos 1003 50",
                                        "SetText 1006 5.0", "GetText 1006", "EditSetSel 1006 1,1",
                                        "EditScrollCaret 1006"}));
    EXPECT_EQ(engine.DelayCount(), 50u);
    EXPECT_EQ(engine.RestartCountdown(), 30u);
    EXPECT_TRUE(engine.IsDraining());

    rig.Type("15.27");
    EXPECT_EQ(rig.controls.text, "15.2");
    EXPECT_EQ(rig.controls.sliderPos, 152);
    EXPECT_EQ(engine.DelayCount(), 152u);
    for (const char* junk : {"", "abc", "-3", "inf", "nan", "1e999"}) {
        rig.Type(junk);
        EXPECT_GE(engine.DelayCount(), 1u) << junk;
        EXPECT_LE(engine.DelayCount(), 299u) << junk;
        EXPECT_EQ(rig.controls.text, FormatDelayCount(engine.DelayCount()));
    }
}

TEST_F(Engine, StartUpTextsSetTheInitialCount) {
    struct Case {
        const char* text;
        uint32_t count;
        const char* shown;
    } cases[] = {{"01.0", 10, "1.0"}, {"0.5", 30, "0.5"}, {"045", 45, "4.5"},
                 {"029.99", 30, "3.0"}, {"0300", 299, "29.9"}, {"00", 1, "0.1"}};
    for (const auto& c : cases) {
        EngineRig r;
        r.Type(c.text);
        EXPECT_EQ(r.engine.DelayCount(), c.count) << c.text;
        EXPECT_EQ(r.controls.text, c.shown) << c.text;
    }
}

TEST_F(Engine, MetersFollowTheBuffersAndDrainsZeroThem) {
    EngineRig loud;
    loud.sim.AddCaptureDevice("Loud", [](uint64_t, uint32_t frames, uint16_t ch, int16_t* out) {
        for (uint32_t i = 0; i < frames * ch; ++i) out[i] = (i % 2) ? -1000 : 20000;
    });
    loud.engine.SetInputDevice(1);
    loud.SlideTo(2);
    loud.engine.Play();
    loud.Run(10 * B);
    EXPECT_EQ(loud.controls.progress[IDC_INPUT_LEFT], 20000);
    EXPECT_EQ(loud.controls.progress[IDC_INPUT_RIGHT], 1000);
    EXPECT_EQ(loud.controls.progress[IDC_OUTPUT_LEFT], 20000);
    EXPECT_EQ(loud.controls.progress[IDC_OUTPUT_RIGHT], 1000);
    loud.SlideTo(3);
    loud.pump.Pump();
    for (int id : {IDC_INPUT_LEFT, IDC_INPUT_RIGHT, IDC_OUTPUT_LEFT, IDC_OUTPUT_RIGHT})
        EXPECT_EQ(loud.controls.progress[id], 0) << id;
}

TEST_F(Engine, DevicesThatFailToOpen) {
    EngineRig r;
    r.sim.AddCaptureDevice("Busy input", NoiseSignal, /*failsToOpen=*/true);
    r.sim.AddPlaybackDevice("Busy output", /*failsToOpen=*/true);
    r.controls.comboSel[IDC_INPUT_DEVICE] = 1;
    r.engine.OnInputSelChange();
    r.engine.Play();
    EXPECT_TRUE(r.engine.IsPlaying());
    r.Run(10 * B);
    EXPECT_TRUE(r.controls.progress.empty());  // nothing ever arrives
    r.engine.Stop();

    // A working input with a broken output: capture, meters and the band run.
    r.engine.SetInputDevice(0);
    r.controls.comboSel[IDC_OUTPUT_DEVICE] = 1;
    r.engine.OnOutputSelChange();
    EXPECT_EQ(r.engine.OutputDevice(), 1);
    r.engine.Play();
    r.Run(40 * B);
    EXPECT_GT(r.controls.progress[IDC_INPUT_LEFT], 0);
    EXPECT_EQ(r.controls.progressUpdates.count(IDC_OUTPUT_LEFT), 0u);
    EXPECT_EQ(r.controls.selEnd, 29);
}

TEST_F(Engine, ABlockThatCouldNotBeAllocatedIsNeverUsed) {
    rig.SlideTo(3);
    rig.sim.EnableCallLog(true);
    // Allocations alternate recorder, player per index: the 6th is player 2.
    FailNthNothrowArrayAllocation(6);
    engine.Play();
    EXPECT_EQ(rig.player.Block(2), nullptr);
    EXPECT_EQ(rig.player.LastResult(), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(std::count(rig.sim.Calls().begin(), rig.sim.Calls().end(), "waveOutPrepareHeader 2"), 0);
    rig.Run(20 * B);  // the arrivals of index 2 find no block to copy into
    EXPECT_GT(engine.ReceivedCount(), 3u);
}

TEST_F(Engine, AnOutputThatFallsBehindHearsEveryBufferLaterAndNoneOverwritten) {
    // The output stops for 250 ms and plays on from where it was: what it
    // holds is now heard later than the engine would reuse the blocks.
    // Nothing may be overwritten before it is heard: every frame heard is the
    // input of one moment, at the delay or that much later, and all of it.
    const uint32_t d = 10;
    const uint64_t delay = d * B;
    struct Heard {
        uint64_t lag;
        uint64_t at;
    };
    std::vector<Heard> heard;
    uint64_t mismatched = 0;
    rig.sim.SetOutputSink(0, [&](uint64_t start, const int16_t* data, uint32_t frames, uint16_t ch) {
        if (data == nullptr) return;
        // The lag of this stretch, from its first frame.
        uint64_t lag = UINT64_MAX;
        for (uint64_t l = 0; l <= start && l <= delay + 12 * B && lag == UINT64_MAX; ++l)
            if (data[0] == NoiseSample(start - l, 0) && data[1] == NoiseSample(start - l, 1)) lag = l;
        if (lag == UINT64_MAX) {
            mismatched += frames;
            return;
        }
        for (uint32_t f = 0; f < frames; ++f)
            for (uint16_t c = 0; c < ch; ++c)
                if (data[f * ch + c] != NoiseSample(start + f - lag, c)) ++mismatched;
        heard.push_back({lag, start});
    });
    rig.SlideTo(d);
    engine.Play();
    rig.sim.StallPlayback(15 * B, 25 * B / 10);
    rig.Run(60 * B);

    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(mismatched, 0u);
    const uint64_t late = delay + 25 * B / 10;
    for (const Heard& h : heard)
        EXPECT_TRUE(h.lag == delay || h.lag == late) << "lag " << h.lag << " at frame " << h.at;
    EXPECT_EQ(heard.back().lag, late);
    // Nothing skipped: the stall is the only silence since the first sound.
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
}

TEST_F(Engine, ADelayChangeWhileCapturesWaitDrainsAndLandsExactly) {
    // One tenth and an output stopped for a second: both capture buffers
    // come back and wait for their blocks, which it still holds, and
    // nothing is left queued. A change to three tenths must still drain and
    // then run exactly at the new delay, the output's lateness gone with the
    // reset.
    rig.SlideTo(1);
    rig.CheckOutput();
    engine.Play();
    rig.sim.StallPlayback(5 * B, 10 * B);
    rig.Run(14 * B);
    EXPECT_EQ(engine.OutstandingCaptures(), 0u);
    rig.SlideTo(3);
    rig.Run(30 * B);
    EXPECT_FALSE(engine.IsDraining());
    EXPECT_EQ(engine.OutstandingCaptures(), 4u);
    rig.checker.mismatchedFrames = 0;
    rig.checker.playedFrames = 0;
    rig.Run(20 * B);
    EXPECT_EQ(rig.checker.playedFrames, 20 * B);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
}
