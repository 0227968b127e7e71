#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "engine/delay_text.h"
#include "engine/splice_line.h"
#include "support/engine_rig.h"
#include "support/splice_checker.h"

using namespace morvane;
using namespace morvane::sim;

namespace {
constexpr uint64_t kRate = 44100;
constexpr uint64_t kEnd = 6 * 3600 * kRate;

struct SoakCounts {
    int changes = 0, stops = 0, plays = 0, racing = 0;
    uint64_t badIndices = 0;
};

// Six hours of virtual time with a few hundred random delay changes, Stops
// and Plays, some of them made while device notifications are still queued
// (as when input overtakes posted messages). `onPlay` is told of every Play
// that starts the line; `check` runs after every step.
SoakCounts RandomUse(EngineRig& rig, uint32_t seed, const std::function<void()>& onPlay,
                     const std::function<void()>& check) {
    std::mt19937 random(seed);
    auto uniform = [&](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(random);
    };
    SoakCounts counts;
    rig.controls.logCalls = false;
    rig.pump.SetHandler([&](const WaveMessage& m) {
        if (m.header != nullptr && m.header->dwUser >= kBufferCount) ++counts.badIndices;
        if (m.msg == MM_WIM_DATA) rig.engine.OnWimData(m.header);
        if (m.msg == MM_WOM_DONE) rig.engine.OnWomDone(m.header);
    });

    auto randomCount = [&]() -> uint32_t {
        // Mostly short delays, now and then anything up to the longest.
        return uniform(0, 3) ? uniform(1, 40) : uniform(1, 299);
    };
    auto changeDelay = [&] {
        switch (uniform(0, 2)) {
            case 0:
                rig.SlideTo(randomCount());
                break;
            case 1:  // a drag: every thumb move restarts, then the end
                for (uint32_t n = uniform(1, 6); n > 0; --n) {
                    rig.controls.sliderPos = static_cast<int>(randomCount());
                    rig.engine.OnHScroll(kTbThumbTrack);
                }
                rig.engine.OnHScroll(kTbEndTrack);
                break;
            default:
                rig.Type(uniform(0, 1) ? std::to_string(randomCount() / 10.0).substr(0, 4) : "7");
        }
    };

    rig.SlideTo(10);
    onPlay();
    rig.engine.Play();
    while (rig.sim.Now() < kEnd) {
        const uint64_t next = std::min(kEnd, rig.sim.Now() + uniform(1, 90 * kRate));
        // The event at the op's own moment may or may not have been pumped.
        const bool race = uniform(0, 3) == 0;
        RunUntil(rig.sim, rig.pump, race ? next - 1 : next);
        if (race) {
            rig.sim.AdvanceTo(next);
            ++counts.racing;
        }
        const uint32_t op = uniform(0, 9);
        for (uint32_t n = (uniform(0, 4) == 0) ? 2 : 1; n > 0; --n) {  // sometimes twice in a row
            if (op < 7) {
                changeDelay();
                ++counts.changes;
            } else if (op == 7) {
                rig.engine.Stop();
                ++counts.stops;
            } else {
                if (!rig.engine.IsPlaying()) onPlay();
                rig.engine.Play();
                ++counts.plays;
            }
        }
        rig.pump.Pump();
        check();
        if (::testing::Test::HasFatalFailure()) break;
    }
    return counts;
}

void ExpectBusyUse(const SoakCounts& c, uint64_t playedFrames, const char* what) {
    EXPECT_EQ(c.badIndices, 0u);
    EXPECT_GT(c.changes, 200);
    EXPECT_GT(c.stops, 20);
    EXPECT_GT(c.plays, 20);
    // Most of the six hours made sound.
    EXPECT_GT(playedFrames, kEnd / 3);
    std::printf("%s: %d delay changes, %d stops, %d plays (%d racing their notifications), "
                "%.1f h of sound checked\n",
                what, c.changes, c.stops, c.plays, c.racing, playedFrames / double(kRate) / 3600.0);
}
}  // namespace

// Whenever sound comes out it must be the input delayed by exactly the delay
// in force.
TEST(DelaySoak, SixHoursOfRandomUse) {
    EngineRig rig;
    rig.CheckOutput();
    const SoakCounts counts = RandomUse(rig, 20261207, [] {}, [&] {
        // Nothing waits for buffers that never come.
        const uint32_t d = rig.engine.DelayCount();
        ASSERT_GE(d, 1u);
        ASSERT_LE(d, 299u);
        if (rig.engine.IsPlaying()) {
            ASSERT_FALSE(rig.engine.IsDraining()) << "stalled at " << rig.sim.Now();
            ASSERT_EQ(rig.engine.OutstandingCaptures(), d + 1);
        } else {
            ASSERT_EQ(rig.engine.OutstandingCaptures(), 0u);
        }
    });
    EXPECT_EQ(rig.checker.mismatchedFrames, 0u) << "first at frame " << rig.checker.firstMismatch;
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
    ExpectBusyUse(counts, rig.checker.playedFrames, "soak");
}

// The same use in the nudge mode: the line is never drained while playing,
// every change is a clean splice, and once the splices have been heard the
// output runs at exactly the delay in force.
TEST(DelaySoak, SixHoursOfRandomNudges) {
    EngineRig rig;
    rig.engine.SetSmooth(true);
    SpliceChecker out;
    rig.sim.SetOutputSink(0, [&](uint64_t s, const int16_t* d, uint32_t f, uint16_t c) { out(s, d, f, c); });
    uint64_t lastChange = 0;
    uint32_t lastCount = 0;
    uint64_t settledChecks = 0;
    const SoakCounts counts = RandomUse(rig, 20261208, [&] { out.NewRun(); }, [&] {
        const uint32_t d = rig.engine.DelayCount();
        ASSERT_GE(d, 1u);
        ASSERT_LE(d, 299u);
        if (d != lastCount) {
            lastCount = d;
            lastChange = rig.sim.Now();
        }
        if (!rig.engine.IsPlaying()) {
            ASSERT_EQ(rig.engine.OutstandingCaptures(), 0u);
            return;
        }
        ASSERT_FALSE(rig.engine.IsDraining()) << "drained at " << rig.sim.Now();
        ASSERT_GT(rig.engine.OutstandingCaptures(), 0u);
        // Long enough since the change for the splice to have been heard.
        if (out.lag != 0 && !out.InSplice() &&
            rig.sim.Now() - lastChange > (d + CSpliceLine::kLeadBuffers + 2) * kBufferFrames) {
            ASSERT_EQ(out.lag, d * kBufferFrames) << "at " << rig.sim.Now();
            ++settledChecks;
        }
    });
    EXPECT_EQ(out.badFrames, 0u) << "first at frame " << out.firstBad;
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
    EXPECT_GT(out.splices.size(), 100u);
    EXPECT_GT(settledChecks, 50u);
    // A change made while an earlier one's silence plays folds into it and
    // keeps what was heard, so only the least silence is known here.
    for (const Splice& s : out.splices) {
        const uint64_t silence = s.toLag > s.fromLag ? s.toLag - s.fromLag : 0;
        EXPECT_GE(s.end - s.start, silence) << "at " << s.start;
    }
    ExpectBusyUse(counts, out.exactFrames, "nudge soak");
}
