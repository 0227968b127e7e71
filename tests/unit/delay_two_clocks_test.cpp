// The delay line across two devices on clocks of their own, in the
// simulator, for two hours: left alone, the delay drifts by exactly the
// clocks' difference; with playback following capture's clock, it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "support/engine_rig.h"

using namespace morvane;
using namespace morvane::sim;

namespace {
constexpr double kRate = 44100;
constexpr double kDelay = 2.0;
constexpr double kHours = 2.0;

// Every frame carries its own number (low 16 bits left, high 16 bits right),
// so each one heard tells when it was captured.
void NumberedSignal(uint64_t start, uint32_t frames, uint16_t channels, int16_t* out) {
    for (uint64_t n = start; n < start + frames; ++n, out += channels) {
        out[0] = static_cast<int16_t>(static_cast<uint16_t>(n));
        out[1] = static_cast<int16_t>(static_cast<uint16_t>(n >> 16));
    }
}

struct Heard {
    double firstDelay = 0, lastDelay = 0;  // seconds
    double worstBeforeSettled = 0;         // most the delay was off the setting
    double worstSettled = 0;               // the same after the first two minutes
    uint64_t outOfOrder = 0;               // frames that are not the next captured one
    uint64_t underrun = 0;
    double factor = 1;
    bool engaged = false;
};

Heard RunTwoClocks(double capturePpm, double playbackPpm, bool follow, double hours = kHours) {
    EngineRig rig(1, 1, NumberedSignal);
    rig.sim.SetDeviceClock(true, 0, capturePpm);
    rig.sim.SetDeviceClock(false, 0, playbackPpm);
    rig.sim.FollowClocks(follow);
    const double captureClock = 1 + capturePpm * 1e-6;
    Heard h;
    std::optional<uint32_t> next;
    rig.sim.SetOutputSink(0, [&](uint64_t at, const int16_t* d, uint32_t frames, uint16_t) {
        if (d == nullptr) return;
        auto number = [&](uint32_t f) {
            return static_cast<uint32_t>(static_cast<uint16_t>(d[2 * f])) |
                   static_cast<uint32_t>(static_cast<uint16_t>(d[2 * f + 1])) << 16;
        };
        for (uint32_t f = 0; f < frames; ++f) {
            if (next && number(f) != *next) ++h.outOfOrder;
            next = number(f) + 1;
        }
        const double delay = (static_cast<double>(at) - number(0) / captureClock) / kRate;
        if (h.firstDelay == 0) h.firstDelay = delay;
        h.lastDelay = delay;
        double& worst = at / kRate < 120 ? h.worstBeforeSettled : h.worstSettled;
        worst = std::max(worst, std::abs(delay - kDelay));
    });
    rig.SlideTo(static_cast<uint32_t>(kDelay * 10));
    rig.engine.Play();
    rig.Run(static_cast<uint64_t>(hours * 3600 * kRate));
    h.underrun = rig.sim.UnderrunFrames();
    h.factor = rig.sim.PlaybackFactor();
    h.engaged = rig.sim.Follower() != nullptr && rig.sim.Follower()->Engaged();
    std::printf("capture %+.0f ppm, playback %+.0f ppm, %s: delay %.4f s to %.4f s, off by at most "
                "%.2f ms (first two minutes) and %.2f ms (after), factor %.6f\n",
                capturePpm, playbackPpm, follow ? "following" : "left alone", h.firstDelay, h.lastDelay,
                h.worstBeforeSettled * 1e3, h.worstSettled * 1e3, h.factor);
    return h;
}

// Capture's clock against playback's, less 1: the delay's drift per second.
double Apart(double capturePpm, double playbackPpm) {
    return 1 - (1 + playbackPpm * 1e-6) / (1 + capturePpm * 1e-6);
}
}  // namespace

TEST(DelayTwoClocks, LeftAloneTheDelayDriftsByTheClocksDifference) {
    for (const auto& [in, out] : {std::pair{150.0, -50.0}, std::pair{-80.0, 120.0}}) {
        const Heard h = RunTwoClocks(in, out, false);
        const double expected = Apart(in, out) * kHours * 3600;  // about 1.44 s either way
        EXPECT_NEAR(h.lastDelay - h.firstDelay, expected, 0.01 * std::abs(expected)) << in << " " << out;
        EXPECT_EQ(h.outOfOrder, 0u);
    }
}

TEST(DelayTwoClocks, FollowingCapturesClockHoldsTheDelay) {
    for (const auto& [in, out] : {std::pair{150.0, -50.0}, std::pair{-80.0, 120.0}}) {
        const Heard h = RunTwoClocks(in, out, true);
        EXPECT_LT(h.worstBeforeSettled, 0.010) << in << " " << out;
        EXPECT_LT(h.worstSettled, 0.002) << in << " " << out;
        EXPECT_EQ(h.underrun, 0u);
        EXPECT_EQ(h.outOfOrder, 0u);
        // Playback reads as fast as capture fills, to the whole frame per second.
        EXPECT_NEAR(h.factor, 1 + Apart(in, out), 2 / kRate) << in << " " << out;
    }
}

// One clock: the follower never moves, and the output is the input exactly.
TEST(DelayTwoClocks, OnOneClockTheFollowerStaysStillAndTheOutputExact) {
    EngineRig rig;
    rig.sim.FollowClocks(true);
    rig.CheckOutput();
    rig.SlideTo(20);
    rig.engine.Play();
    rig.Run(static_cast<uint64_t>(3600 * kRate));
    ASSERT_NE(rig.sim.Follower(), nullptr);
    EXPECT_FALSE(rig.sim.Follower()->Engaged());
    EXPECT_EQ(rig.sim.PlaybackFactor(), 1.0);
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u);
    EXPECT_GT(rig.checker.playedFrames, static_cast<uint64_t>(3590 * kRate));
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
}
