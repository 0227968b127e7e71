#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/delay_text.h"
#include "engine/splice_line.h"
#include "support/engine_rig.h"
#include "support/splice_checker.h"

using namespace morvane;
using namespace morvane::sim;

namespace {
constexpr uint64_t B = kBufferFrames;
const uint64_t F = CSpliceLine::FadeFrames(44100);
// A splice is heard once the blocks already on the output have played.
constexpr uint64_t kHeardWithin = (CSpliceLine::kLeadBuffers + 1) * B;

struct Nudging : ::testing::Test {
    EngineRig rig;
    CDelayEngine& engine = rig.engine;
    SpliceChecker out;
    uint64_t playAt = 0;

    void StartWith(uint32_t count, uint64_t at = 1234) {
        engine.SetSmooth(true);
        rig.SlideTo(count);
        rig.Run(at);
        rig.sim.SetOutputSink(0, [this](uint64_t s, const int16_t* d, uint32_t f, uint16_t c) { out(s, d, f, c); });
        playAt = rig.sim.Now();
        engine.Play();
    }

    // One splice from `from` to `to` tenths: on the output's next block
    // boundary after `changeAt`, silence exactly as long as a longer delay
    // adds, and nothing but the fades besides.
    void ExpectSplice(const Splice& s, uint32_t from, uint32_t to, uint64_t changeAt) {
        EXPECT_EQ(s.fromLag, from * B);
        EXPECT_EQ(s.toLag, to * B);
        const uint64_t silence = to > from ? (to - from) * B : 0;
        EXPECT_GE(s.silent, silence);
        EXPECT_LE(s.silent, silence + 2 * F);
        EXPECT_GE(s.end - s.start, silence);
        EXPECT_LE(s.end - s.start, silence + 2 * F);
        EXPECT_GE(s.fadedOut, F / 2);
        EXPECT_GE(s.fadedIn, F / 2);
        EXPECT_GT(s.start, changeAt);
        EXPECT_LE(s.start, changeAt + kHeardWithin);
        const uint64_t sinceFirst = s.start + F - out.firstSound;
        EXPECT_LE(sinceFirst % B, F) << "the fade-out ends on a block boundary";
    }
};
}  // namespace

class NudgeOnce : public Nudging, public ::testing::WithParamInterface<std::pair<uint32_t, uint32_t>> {};

TEST_P(NudgeOnce, SplicesExactlyWithoutDraining) {
    const auto [from, to] = GetParam();
    StartWith(from);
    rig.Run((from + 20) * B);
    EXPECT_EQ(out.firstSound, playAt + from * B);
    EXPECT_EQ(out.lag, from * B);

    const uint64_t changeAt = rig.sim.Now();
    rig.SlideTo(to);
    EXPECT_FALSE(engine.IsDraining());
    EXPECT_EQ(engine.DelayCount(), to);
    EXPECT_EQ(rig.controls.selEnd, static_cast<int>(to - 1));  // the band stays full
    rig.Run((to + 30) * B);

    ASSERT_EQ(out.splices.size(), 1u);
    ExpectSplice(out.splices[0], from, to, changeAt);
    EXPECT_EQ(out.lag, to * B);
    EXPECT_EQ(out.badFrames, 0u) << "first at " << out.firstBad;
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
    EXPECT_EQ(rig.sim.OverrunFrames(), 0u);
    EXPECT_EQ(engine.OutstandingCaptures(), from + 1);
    EXPECT_FALSE(engine.IsDraining());
}

INSTANTIATE_TEST_SUITE_P(Steps, NudgeOnce,
                         ::testing::Values(std::pair{30u, 33u}, std::pair{30u, 29u}, std::pair{80u, 81u},
                                           std::pair{1u, 2u}, std::pair{2u, 1u}, std::pair{5u, 1u},
                                           std::pair{1u, 5u}, std::pair{3u, 299u}, std::pair{299u, 1u}));

TEST_F(Nudging, ChangesBeforeTheSpliceIsMadeFoldIntoOne) {
    StartWith(30);
    rig.Run(40 * B + B / 2);
    uint64_t changeAt = rig.sim.Now();
    // A held arrow key: all within one block.
    for (uint32_t c : {31u, 32u, 33u, 32u}) rig.SlideTo(c);
    rig.Run(50 * B);
    ASSERT_EQ(out.splices.size(), 1u);
    ExpectSplice(out.splices[0], 30, 32, changeAt);

    // There and back before the next block: nothing to splice.
    rig.SlideTo(35);
    rig.SlideTo(32);
    rig.Run(50 * B);
    EXPECT_EQ(out.splices.size(), 1u);

    // Longer, then shorter again while the silence is still being made:
    // the silence is cut to what the last value needs.
    changeAt = rig.sim.Now();
    rig.SlideTo(36);
    rig.Run(2 * B);  // the fade-out and the first silent block are made
    rig.SlideTo(33);
    rig.Run(50 * B);
    ASSERT_EQ(out.splices.size(), 2u);
    ExpectSplice(out.splices[1], 32, 33, changeAt);

    // The same down to one tenth, below the output's lead: the sound that
    // is not yet in must not be spliced in as silence.
    rig.SlideTo(5);
    rig.Run(50 * B);
    changeAt = rig.sim.Now();
    rig.SlideTo(6);
    rig.Run(B);
    rig.SlideTo(1);
    rig.Run(50 * B);
    ASSERT_EQ(out.splices.size(), 4u);
    ExpectSplice(out.splices[3], 5, 1, changeAt);
    EXPECT_EQ(out.badFrames, 0u) << "first at " << out.firstBad;
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
}

TEST_F(Nudging, TwentyChangesInTwoSecondsEndExactAtTheLast) {
    StartWith(30);
    rig.Run(40 * B);
    std::mt19937 random(4711);
    uint32_t count = 30;
    for (int i = 0; i < 20; ++i) {
        const int step = std::uniform_int_distribution<int>(-5, 5)(random);
        count = static_cast<uint32_t>(std::clamp<int>(static_cast<int>(count) + step, 1, 299));
        if (i % 3 == 0)
            rig.Type(FormatDelayCount(count));
        else
            rig.SlideTo(count);
        rig.Run(std::uniform_int_distribution<uint64_t>(B / 2, 3 * B / 2)(random));
    }
    const uint64_t lastAt = rig.sim.Now();
    rig.Run(40 * B);

    EXPECT_EQ(engine.DelayCount(), count);
    EXPECT_EQ(out.lag, count * B);
    ASSERT_FALSE(out.splices.empty());
    EXPECT_LE(out.splices.back().end, lastAt + kHeardWithin + 40 * B);
    uint64_t lag = 30 * B;
    for (const Splice& s : out.splices) {
        // Each one goes on from where the last ended, and is silent exactly
        // as long as it is longer.
        EXPECT_EQ(s.fromLag, lag);
        const uint64_t silence = s.toLag > s.fromLag ? s.toLag - s.fromLag : 0;
        EXPECT_GE(s.end - s.start, silence);
        EXPECT_LE(s.end - s.start, silence + 2 * F);
        lag = s.toLag;
    }
    EXPECT_EQ(out.badFrames, 0u) << "first at " << out.firstBad;
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
    EXPECT_FALSE(engine.IsDraining());
    EXPECT_EQ(rig.controls.selEnd, static_cast<int>(count - 1));
}

TEST_F(Nudging, AShorterDelayWhileFillingStartsWithTheNextBuffer) {
    StartWith(30);
    rig.Run(10 * B + 300);
    rig.SlideTo(4);
    EXPECT_EQ(out.firstSound, UINT64_MAX);
    rig.Run(20 * B);
    EXPECT_EQ(out.firstSound, playAt + 11 * B);
    EXPECT_EQ(out.lag, 4 * B);
    EXPECT_TRUE(out.splices.empty());
    EXPECT_EQ(out.badFrames, 0u);
    EXPECT_EQ(rig.sim.UnderrunFrames(), 0u);
}

TEST_F(Nudging, StopAndPlayAndChangesWhileStoppedAreAsWithout) {
    StartWith(10);
    rig.Run(25 * B);
    engine.Stop();
    rig.pump.Pump();
    EXPECT_FALSE(engine.IsPlaying());
    EXPECT_EQ(engine.OutstandingCaptures(), 0u);
    rig.SlideTo(20);  // stopped: only the fields
    EXPECT_TRUE(engine.IsDraining());
    EXPECT_EQ(engine.RestartCountdown(), 10u);

    out.NewRun();
    const uint64_t playAt2 = rig.sim.Now();
    out.firstSound = UINT64_MAX;
    engine.Play();
    EXPECT_FALSE(engine.IsDraining());
    EXPECT_EQ(engine.OutstandingCaptures(), 21u);
    rig.Run(40 * B);
    EXPECT_EQ(out.firstSound, playAt2 + 20 * B);  // filled from nothing again
    EXPECT_EQ(out.lag, 20 * B);
    EXPECT_EQ(out.badFrames, 0u);
}
