#include <gtest/gtest.h>

#include <random>

#include "engine/delay_text.h"
#include "support/engine_rig.h"

using namespace morvane;
using namespace morvane::sim;

// Six hours of virtual time with a few hundred random delay changes, Stops
// and Plays, some of them made while device notifications are still queued
// (as when input overtakes posted messages). Whenever sound comes out it must
// be the input delayed by exactly the delay in force.
TEST(DelaySoak, SixHoursOfRandomUse) {
    constexpr uint64_t kRate = 44100;
    constexpr uint64_t kEnd = 6 * 3600 * kRate;
    std::mt19937 random(20261207);
    auto uniform = [&](uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(random);
    };

    EngineRig rig;
    rig.controls.logCalls = false;
    rig.CheckOutput();
    uint64_t badIndices = 0;
    rig.pump.SetHandler([&](const WaveMessage& m) {
        if (m.header != nullptr && m.header->dwUser >= kBufferCount) ++badIndices;
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
    rig.engine.Play();
    int changes = 0, stops = 0, plays = 0, racing = 0;
    uint64_t fills = 0;
    while (rig.sim.Now() < kEnd) {
        const uint64_t next = std::min(kEnd, rig.sim.Now() + uniform(1, 90 * kRate));
        // The event at the op's own moment may or may not have been pumped.
        const bool race = uniform(0, 3) == 0;
        RunUntil(rig.sim, rig.pump, race ? next - 1 : next);
        if (race) {
            rig.sim.AdvanceTo(next);
            ++racing;
        }
        const uint32_t op = uniform(0, 9);
        for (uint32_t n = (uniform(0, 4) == 0) ? 2 : 1; n > 0; --n) {  // sometimes twice in a row
            if (op < 7) {
                changeDelay();
                ++changes;
            } else if (op == 7) {
                rig.engine.Stop();
                ++stops;
            } else {
                if (!rig.engine.IsPlaying()) ++fills;
                rig.engine.Play();
                ++plays;
            }
        }
        rig.pump.Pump();

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
    }

    EXPECT_EQ(rig.checker.mismatchedFrames, 0u) << "first at frame " << rig.checker.firstMismatch;
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
    EXPECT_EQ(badIndices, 0u);
    EXPECT_GT(changes, 200);
    EXPECT_GT(stops, 20);
    EXPECT_GT(plays, 20);
    // Most of the six hours made sound.
    EXPECT_GT(rig.checker.playedFrames, kEnd / 3);
    std::printf("soak: %d delay changes, %d stops, %d plays (%d racing their notifications), "
                "%.1f h of sound checked\n",
                changes, stops, plays, racing, rig.checker.playedFrames / double(kRate) / 3600.0);
}
