// Placing a stream's samples in time from the graph's figures for a cycle.
#include <gtest/gtest.h>

#include "audio/graph_timing.h"

namespace morvane {
namespace {

constexpr StreamFormat kLine{44100, 4};

GraphTime Cycle48k() {
    GraphTime t;
    t.nowNsec = 1'000'000'000'000;
    t.rateNum = 1;
    t.rateDenom = 48000;
    t.ticks = 480'000'000;
    t.delay = 1024;  // one default cycle to the device
    return t;
}

TEST(GraphTiming, PlaybackIsHeardAfterTheDeviceDelayAndWhatTheStreamHolds) {
    GraphTime t = Cycle48k();
    EXPECT_EQ(PlaybackHeardNsec(t, kLine) - t.nowNsec, 21'333'333);
    // 441 frames queued (10 ms) and 44 in the resampler (~1 ms) come first.
    t.queuedBytes = 441 * 4;
    t.bufferedFrames = 44;
    EXPECT_NEAR(static_cast<double>(PlaybackHeardNsec(t, kLine) - t.nowNsec), 21'333'333 + 10'997'732, 1);
    // On the device's own clock: the same, in its ticks.
    EXPECT_NEAR(PlaybackHeardTicks(t, kLine) - static_cast<double>(t.ticks), 1024 + 485.0 * 48000 / 44100, 1e-3);
}

TEST(GraphTiming, CaptureEndedBeforeTheCycleByTheDelayAndWhatIsStillQueued) {
    GraphTime t = Cycle48k();
    t.delay = 480;  // 10 ms
    EXPECT_EQ(t.nowNsec - CaptureEndNsec(t, kLine, 441, false), 10'000'000);
    // What is still queued was captured after what was handed over.
    t.queuedBytes = 4410 * 4;
    EXPECT_EQ(t.nowNsec - CaptureEndNsec(t, kLine, 441, false), 110'000'000);
}

TEST(GraphTiming, AMonitorsDataIsWhatItsSinkPlaysFromTheCyclesStart) {
    GraphTime t = Cycle48k();
    t.delay = 0;
    EXPECT_EQ(CaptureEndNsec(t, kLine, 941, true) - t.nowNsec, 21'337'868);
    t.bufferedFrames = 41;  // not handed over yet: the handed-over part ends earlier
    EXPECT_EQ(CaptureEndNsec(t, kLine, 941, true) - t.nowNsec, 20'408'163);
}

TEST(GraphTiming, ATickRateOtherThanOneOverTheRateCountsAsIs) {
    GraphTime t = Cycle48k();
    t.rateNum = 2;  // ticks of 2/96000 s
    t.rateDenom = 96000;
    t.delay = 512;
    EXPECT_EQ(PlaybackHeardNsec(t, kLine) - t.nowNsec, 10'666'667);
    EXPECT_NEAR(TicksToFrames(480, t, 44100), 441.0, 1e-9);
    // A graph that has not set its rate yet places nothing anywhere odd.
    t.rateDenom = 0;
    EXPECT_EQ(PlaybackHeardNsec(t, kLine), t.nowNsec);
}

}  // namespace
}  // namespace morvane
