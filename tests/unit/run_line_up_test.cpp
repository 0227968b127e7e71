// The rule every wave layer lines a playback run's start up by.
#include <gtest/gtest.h>

#include "audio/run_line_up.h"

namespace morvane {
namespace {

constexpr int64_t kNow = 50'000'000;

TEST(RunLineUp, ARunIsLateByWhatHasPassedSinceCaptureEnded) {
    // Returned 30 ms after its end, and the run starts 2 ms after that.
    const CaptureMark mark{kNow - 32'000, kNow - 2'000};
    EXPECT_EQ(RunLatenessUsec(kNow, mark, true), 32'000);
    EXPECT_EQ(RunLatenessUsec(kNow, mark, false), 32'000);
}

TEST(RunLineUp, AnEarlyRunIsLedInOnlyWhereTheLayerMayLead) {
    // A monitor's data can come before it is heard.
    const CaptureMark mark{kNow + 40'000, kNow - 1'000};
    EXPECT_EQ(RunLatenessUsec(kNow, mark, true), -40'000);
    EXPECT_EQ(RunLatenessUsec(kNow, mark, false), 0);
}

TEST(RunLineUp, SmallErrorsStaleOrMissingReferencesChangeNothing) {
    EXPECT_EQ(RunLatenessUsec(kNow, std::nullopt, true), 0);
    EXPECT_EQ(RunLatenessUsec(kNow, CaptureMark{kNow - 499, kNow}, true), 0);
    EXPECT_EQ(RunLatenessUsec(kNow, CaptureMark{kNow + 499, kNow}, true), 0);
    EXPECT_EQ(RunLatenessUsec(kNow, CaptureMark{kNow - 500, kNow}, true), 500);
    // Capture last came back over a second ago: it stopped or stalled.
    EXPECT_EQ(RunLatenessUsec(kNow, CaptureMark{kNow - 1'100'000, kNow - 1'000'001}, true), 0);
    EXPECT_EQ(RunLatenessUsec(kNow, CaptureMark{kNow - 1'100'000, kNow - 1'000'000}, true), 1'000'000);
}

TEST(RunLineUp, NeverMoreThanASecondEitherWay) {
    EXPECT_EQ(RunLatenessUsec(kNow, CaptureMark{kNow - 5'000'000, kNow}, false), RunLineUp::kMaxUsec);
    EXPECT_EQ(RunLatenessUsec(kNow, CaptureMark{kNow + 5'000'000, kNow}, true), -RunLineUp::kMaxUsec);
}

}  // namespace
}  // namespace morvane
