// The clock follower against a model of two devices on their own clocks:
// capture fills and playback reads at their own rates, playback reading the
// follower's factor more; readings come late by up to a jitter, never early.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "audio/clock_follower.h"

namespace morvane {
namespace {

constexpr double kRate = 44100;

struct Outcome {
    double worstErrorAfterSettling = 0;  // seconds
    double worstStep = 0;                // factor change in one second
    double finalError = 0;
    double lowestError = 0;  // from 60 s on
    bool everMoved = false;
};

// `captureSkew`, `playbackSkew`: each clock's rate against true time, less 1.
// `fill(t)`: seconds that the server has read ahead of what is heard (a
// pipe's fill): its readings count those frames as read and heard later.
// `block`: each device moves its data in blocks of this many seconds of its
// own clock, and a reading is off by how far into a block it was taken; the
// readings then come three a step, each at a random moment within it.
// `gapAt`: then playback runs dry for 15 ms and plays on that much later.
Outcome RunModel(double captureSkew, double playbackSkew, double hours, double jitter, bool follow,
            double settleSeconds = 90, const std::function<double(double)>& fill = nullptr, double block = 0,
            double gapAt = -1) {
    CClockFollower follower(kRate);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> late(0, jitter);
    const double heardDelay = 0.05;
    const double step = 0.1;
    double framesRead = 0;
    // Stream frame j is capture frame j + offset: the line's delay in frames.
    const double offset = 2.0 * kRate;
    auto delayAt = [&](double t) {
        const double captured = (framesRead + offset) / (kRate * (1 + captureSkew));
        return t + heardDelay - captured;
    };
    const double start = delayAt(0);
    Outcome out;
    double lastFactor = 1.0;
    const auto steps = static_cast<long>(hours * 3600 / step);
    for (long n = 1; n <= steps; ++n) {
        const double t = static_cast<double>(n) * step;
        framesRead += (follow ? follower.Factor() : 1.0) * kRate * (1 + playbackSkew) * step;
        if (std::abs(t - gapAt) < step / 2) framesRead -= 0.015 * kRate;
        if (block > 0) {
            const auto into = [&](double at, double skew) { return std::fmod(at * (1 + skew), block); };
            for (int k = 0; k < 3; ++k) {
                const double c = t - step * late(random), p = t - step * late(random);
                follower.AddCapture(c, -captureSkew * c - into(c, captureSkew));
                follower.AddPlayback(p, heardDelay + into(p, playbackSkew), framesRead - (t - p) * kRate);
            }
        } else if (n % 5 == 0) {
            // The capture stream's first frame was heard at -captureSkew*t's
            // place on the true time line, by a reading taken at t.
            const double lateCapture = late(random);
            follower.AddCapture(t + lateCapture, -captureSkew * t);
            const double lag = late(random);
            const double ahead = fill ? fill(t) : 0;
            follower.AddPlayback(t + lag, heardDelay + ahead - lag, framesRead + ahead * kRate);
        }
        if (follow && n % 10 == 0) {
            const double f = follower.Update(t);
            out.worstStep = std::max(out.worstStep, std::abs(f - lastFactor));
            out.everMoved = out.everMoved || f != 1.0;
            lastFactor = f;
        }
        const double error = delayAt(t) - start;
        if (t >= settleSeconds) out.worstErrorAfterSettling = std::max(out.worstErrorAfterSettling, std::abs(error));
        if (t >= 60) out.lowestError = std::min(out.lowestError, error);
        out.finalError = error;
    }
    return out;
}

TEST(ClockFollower, TwoClocksApartHoldTheDelayForHoursWithSmoothSmallSteps) {
    struct Case {
        double capture, playback;
    };
    for (const Case c : {Case{150e-6, -80e-6}, Case{-200e-6, 200e-6}, Case{200e-6, 0}, Case{0, 30e-6}}) {
        SCOPED_TRACE(testing::Message() << "capture " << c.capture * 1e6 << " ppm, playback " << c.playback * 1e6);
        // Left alone, the delay drifts by the clocks' difference.
        const Outcome loose = RunModel(c.capture, c.playback, 2, 0.0005, false);
        EXPECT_NEAR(loose.finalError, (c.capture - c.playback) * 7200, 0.01);
        const Outcome held = RunModel(c.capture, c.playback, 2, 0.0005, true);
        EXPECT_LT(held.worstErrorAfterSettling, 0.002);
        EXPECT_LT(std::abs(held.finalError), 0.001);
        // Whole frames per second: one more frame of rounding.
        EXPECT_LE(held.worstStep, CClockFollower::kMaxStepPerSecond + 1.0001 / kRate);
    }
}

// The server reads 20 ms further ahead over the run's first 20 s: its
// frames then read as 1000 ppm of drift, and the first rate estimates with
// them. The delay the run started with is still the one kept.
TEST(ClockFollower, AReadAheadThatGrowsAtTheStartDoesNotMoveTheDelayKept) {
    const auto fill = [](double t) { return 0.020 * std::clamp((t - 5) / 20, 0.0, 1.0); };
    const Outcome held = RunModel(0, 200e-6, 1, 0.0005, true, 300, fill);
    EXPECT_LT(held.worstErrorAfterSettling, 0.002);
    EXPECT_LT(std::abs(held.finalError), 0.001);
}

// Devices that hand over 10 ms blocks make every reading up to 10 ms off;
// readings at random moments average that out instead of swinging the rate.
TEST(ClockFollower, ReadingsOffByUpToABlockStillHoldTheDelay) {
    for (const double skew : {200e-6, -200e-6}) {
        SCOPED_TRACE(testing::Message() << skew * 1e6 << " ppm");
        const Outcome held = RunModel(0, skew, 0.5, 1.0, true, 30, nullptr, 0.010);
        EXPECT_LT(held.worstErrorAfterSettling, 0.003);
        EXPECT_LT(std::abs(held.finalError), 0.001);
    }
}

// A gap puts the rest 15 ms later: that is worked off like any error, and
// does not read as drift, which would send the delay as far the other way.
TEST(ClockFollower, AGapIsWorkedOffWithoutOvershoot) {
    for (const double skew : {200e-6, -200e-6}) {
        SCOPED_TRACE(testing::Message() << skew * 1e6 << " ppm");
        const Outcome back = RunModel(0, skew, 0.2, 1.0, true, 200, nullptr, 0.010, 120);
        EXPECT_LT(back.worstErrorAfterSettling, 0.002);
        EXPECT_GT(back.lowestError, -0.004);
    }
}

TEST(ClockFollower, OneClockLeavesTheFactorAtExactlyOne) {
    // Readings late by up to 1 ms, as on a busy machine.
    const Outcome one = RunModel(0, 0, 2, 0.001, true);
    EXPECT_FALSE(one.everMoved);
    EXPECT_LT(std::abs(one.finalError), 1e-9);
}

// A capture device had half a second waiting when its stream began, handed
// over at once a moment later: its first readings show fewer frames than the
// clock gives. That is no drift.
TEST(ClockFollower, ACaptureBacklogAtTheStartIsNoDrift) {
    CClockFollower follower(kRate);
    double framesRead = 0;
    for (double t = 0.1; t <= 120; t += 0.1) {
        framesRead += kRate * 0.1;
        const double written = kRate * (t + (t > 0.55 ? 0.5 : 0));
        follower.AddCapture(t, t - written / kRate);
        follower.AddPlayback(t, 0.05, framesRead);
        follower.Update(t);
        ASSERT_EQ(follower.Factor(), 1.0) << t;
    }
    EXPECT_FALSE(follower.Engaged());
}

TEST(ClockFollower, ANewRunKeepsTheFactorAndHoldsItsOwnDelay) {
    CClockFollower follower(kRate);
    double framesRead = 0;
    const double skew = 200e-6;
    for (double t = 0.5; t <= 120; t += 0.5) {
        framesRead += kRate * 0.5 * follower.Factor();
        follower.AddCapture(t, -skew * t);
        follower.AddPlayback(t, 0.05, framesRead);
        follower.Update(t);
    }
    ASSERT_TRUE(follower.Engaged());
    const double factor = follower.Factor();
    EXPECT_NEAR(factor, 1 + skew, 50e-6);
    // The line restarts with a new delay and its playback counts from 0.
    follower.Restart();
    framesRead = 0;
    for (double t = 120.5; t <= 125; t += 0.5) {
        framesRead += kRate * 0.5 * follower.Factor();
        follower.AddCapture(t, -skew * t);
        follower.AddPlayback(t, 0.05, framesRead);
        follower.Update(t);
    }
    EXPECT_NEAR(follower.Factor(), factor, 5 * CClockFollower::kMaxStepPerSecond);
    EXPECT_LT(std::abs(follower.DelayError()), 0.001);
}

}  // namespace
}  // namespace morvane
