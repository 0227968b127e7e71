// The animated picture control on a virtual clock: set-up, the frame-time
// rule, the About picture's loop, disposal, and the stop protocol.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "support/gif_test_builder.h"
#include "support/picture_rig.h"
#include "ui/picture_ex_wnd.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;
using test::CRecordingCanvas;
using test::GifBuilder;

constexpr Colour kBack = CRecordingCanvas::kButtonFace;
constexpr const char* kAboutPicture = MORVANE_RES_DIR "/about.gif";

std::string Fill(const std::string& rect, Colour colour) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", colour);
    return "fill " + rect + " " + text;
}

struct PictureRig {
    test::CPictureMonitor monitor;
    test::CVirtualClock clock{monitor};
    CRecordingCanvas canvas{monitor, clock};
    test::CNumberingDecoder decoder{canvas};
    std::unique_ptr<CPictureExWnd> control = std::make_unique<CPictureExWnd>(decoder, clock);

    PictureRig() { control->AttachToControl(&canvas); }
    bool LoadAbout() { return control->LoadFromFile(kAboutPicture); }
    // Entries as "time text".
    std::vector<std::string> TimedLog() {
        std::vector<std::string> lines;
        for (const auto& entry : canvas.Log()) lines.push_back(std::to_string(entry.time) + " " + entry.text);
        return lines;
    }
};

// Runs `work` on a thread of its own; fails instead of hanging when it does
// not come back, and then frees it by moving time far on.
void ExpectReturnsUnaided(PictureRig& rig, const std::function<void()>& work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(test::kHangGuard) != std::future_status::ready) {
        ADD_FAILURE() << "did not return without time moving on";
        rig.clock.Advance(24h);
    }
    done.get();
}

TEST(PictureFrameTime, ShortAndMissingDelaysGetATenthOfASecond) {
    for (uint32_t delay = 0; delay < 5; ++delay) EXPECT_EQ(FrameTime(delay), 100ms) << delay;
    EXPECT_EQ(FrameTime(5), 50ms);
    EXPECT_EQ(FrameTime(10), 100ms);
    EXPECT_EQ(FrameTime(100), 1000ms);
    EXPECT_EQ(FrameTime(0xFFFF), 655350ms);
    EXPECT_EQ(FrameTime(kNoFrameDelay), 100ms);
}

TEST(PictureSetup, ALoadSizesTheWindowAndMakesTheCanvasThatPaintsCopy) {
    PictureRig rig;
    rig.control->HandlePaint();
    rig.control->SetBackColor(0x123456);
    EXPECT_EQ(rig.control->GetBackColor(), kWhite);
    EXPECT_TRUE(rig.canvas.Log().empty()) << "nothing to paint or fill before a load";

    ASSERT_TRUE(rig.LoadAbout());
    EXPECT_EQ(rig.canvas.windowSize, (CanvasSize{59, 76}));
    EXPECT_EQ(rig.control->GetCanvasSize(), (CanvasSize{59, 76}));
    EXPECT_TRUE(rig.control->HoldsGif());
    EXPECT_TRUE(rig.control->IsAnimated());
    EXPECT_EQ(rig.control->CountFrames(), 8u);
    EXPECT_FALSE(rig.control->IsAnimating());
    EXPECT_EQ(rig.control->GetBackColor(), kBack);
    // The first fill is the menu colour, not the back colour.
    EXPECT_EQ(rig.canvas.LogTexts(),
              (std::vector<std::string>{"release", "make 59x76", Fill("0,0,59,76", CRecordingCanvas::kMenuColour)}));

    rig.canvas.ClearLog();
    rig.control->HandlePaint();
    rig.control->SetViewRect({10, 20, 30, 50});
    rig.control->HandlePaint();
    rig.control->SetViewRect({5, 5, 5, 9});  // no width: the whole canvas
    rig.control->HandlePaint();
    rig.control->SetBackColor(0x123456);
    EXPECT_EQ(rig.control->GetBackColor(), 0x123456u);
    EXPECT_EQ(rig.canvas.LogTexts(), (std::vector<std::string>{"copy 0,0,59,76", "copy 10,20,30,50",
                                                               "copy 0,0,59,76", Fill("0,0,59,76", 0x123456)}));
    EXPECT_EQ(rig.canvas.Invalidations(), 0);

    rig.control->ClearPicture();
    EXPECT_FALSE(rig.canvas.canvasExists);
    EXPECT_EQ(rig.decoder.released, 8);
    EXPECT_EQ(rig.control->GetBackColor(), kWhite);
    EXPECT_EQ(rig.control->GetViewRect(), PixelRect{});
    EXPECT_FALSE(rig.control->HoldsGif());
    EXPECT_EQ(rig.control->CountFrames(), 0u);
    EXPECT_EQ(rig.control->GetCanvasSize(), (CanvasSize{59, 76})) << "kept by a clear";
}

TEST(PictureSetup, StillPicturesAreDrawnOnceAndFailuresLeaveNothingToShow) {
    PictureRig rig;
    const std::vector<uint8_t> other = {'n', 'o', 't', ' ', 'a', ' ', 'G', 'I', 'F'};
    ASSERT_TRUE(rig.control->LoadFromGlobal(other));
    EXPECT_FALSE(rig.control->HoldsGif());
    EXPECT_EQ(rig.control->GetCanvasSize(), rig.decoder.stillSize);
    rig.canvas.ClearLog();
    EXPECT_TRUE(rig.control->StartAnimation());
    EXPECT_EQ(rig.canvas.LogTexts(), (std::vector<std::string>{"draw 1 0,0,40,30"}));
    EXPECT_EQ(rig.canvas.Invalidations(), 1);
    EXPECT_FALSE(rig.control->IsAnimating());

    // Of eight frames only the first decodes: ready, but nothing to play.
    rig.decoder.calls = 0;
    rig.decoder.refuse = {2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(rig.LoadAbout());
    EXPECT_FALSE(rig.control->IsAnimated());
    rig.canvas.ClearLog();
    EXPECT_FALSE(rig.control->StartAnimation());
    EXPECT_TRUE(rig.canvas.Log().empty());

    // No frame at all, and a canvas that cannot be made.
    rig.decoder.refuse = {1, 2, 3, 4, 5, 6, 7, 8};
    rig.decoder.calls = 0;
    EXPECT_FALSE(rig.LoadAbout());
    rig.decoder.refuse.clear();
    rig.canvas.makeFails = true;
    EXPECT_FALSE(rig.LoadAbout());
    rig.canvas.ClearLog();
    EXPECT_FALSE(rig.control->StartAnimation());
    rig.control->HandlePaint();
    EXPECT_TRUE(rig.canvas.Log().empty());
}

TEST(PictureAnimation, TheAboutPicturePassesInTwoPointSixSecondsAndLoops) {
    PictureRig rig;
    ASSERT_TRUE(rig.LoadAbout());
    rig.canvas.ClearLog();
    rig.control->StartAnimation();
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(rig.clock.RunToNextDeadline());
    ASSERT_TRUE(rig.clock.AwaitWaiter(100ms));
    EXPECT_TRUE(rig.control->IsAnimating());

    const std::string all = "0,0,59,76";
    std::vector<std::string> expected = {"0 " + Fill(all, kBack)};
    const int starts[8] = {0, 100, 200, 300, 1300, 1400, 1500, 1600};
    const int times[8] = {100, 100, 100, 1000, 100, 100, 100, 1000};
    for (int pass = 0; pass < 2; ++pass) {
        const int base = pass * 2600;
        for (int frame = 0; frame < 8; ++frame) {
            const int start = base + starts[frame];
            expected.push_back(std::to_string(start) + " draw " + std::to_string(frame + 1) + " " + all);
            expected.push_back(std::to_string(start + times[frame]) + " " + Fill(all, kBack));
        }
        expected.push_back(std::to_string(base + 2600) + " " + Fill(all, kBack));  // the whole canvas
    }
    expected.push_back("5200 draw 1 " + all);
    EXPECT_EQ(rig.TimedLog(), expected);
    EXPECT_EQ(rig.canvas.Invalidations(), 17);
}

// 8 x 6: a full frame, a restore-to-previous frame over part of it, a frame
// with the disposal under test, and a frame without a control block.
std::vector<uint8_t> DisposalGif(int disposal) {
    GifBuilder gif(8, 6, 1);
    gif.GraphicControl(10, 1);
    gif.Image(0, 0, 8, 6);
    gif.GraphicControl(20, 3);
    gif.Image(2, 1, 3, 2);
    gif.GraphicControl(30, disposal);
    gif.Image(0, 0, 2, 2);
    gif.Image(6, 4, 2, 2);
    gif.Trailer();
    return gif.Bytes();
}

TEST(PictureAnimation, RestoreToPreviousPutsTheAreaBackAndOtherDisposalsLeaveTheFrame) {
    constexpr uint32_t kDrawn = CRecordingCanvas::kDrawn;
    for (int disposal : {0, 1, 4, 5, 6, 7}) {
        SCOPED_TRACE(disposal);
        PictureRig rig;
        ASSERT_TRUE(rig.control->LoadFromGlobal(DisposalGif(disposal)));
        rig.control->StartAnimation();
        ASSERT_TRUE(rig.clock.RunToNextDeadline());  // frame 1 done
        ASSERT_TRUE(rig.clock.AwaitWaiter(200ms));
        EXPECT_EQ(rig.canvas.Pixel(3, 2), kDrawn + 2);
        ASSERT_TRUE(rig.clock.RunToNextDeadline());  // frame 2 put back
        ASSERT_TRUE(rig.clock.AwaitWaiter(300ms));
        EXPECT_EQ(rig.canvas.Pixel(3, 2), kDrawn + 1);
        EXPECT_EQ(rig.canvas.Pixel(4, 1), kDrawn + 1);
        ASSERT_TRUE(rig.clock.RunToNextDeadline());  // frame 3 stays
        ASSERT_TRUE(rig.clock.AwaitWaiter(100ms)) << "no control block: a tenth of a second";
        EXPECT_EQ(rig.canvas.Pixel(1, 1), kDrawn + 3);
        EXPECT_EQ(rig.canvas.Pixel(7, 5), kDrawn + 4);
        ASSERT_TRUE(rig.clock.RunToNextDeadline());  // wrap: all cleared, frame 1 again
        ASSERT_TRUE(rig.clock.AwaitWaiter(100ms));

        const auto log = rig.TimedLog();
        const std::vector<std::string> expectedTail = {"300 draw 3 0,0,2,2", "600 draw 4 6,4,8,6",
                                                       "700 " + Fill("0,0,8,6", kBack), "700 draw 1 0,0,8,6"};
        EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()), expectedTail);
        EXPECT_NE(std::find(log.begin(), log.end(), "100 save 2,1,5,3"), log.end());
        EXPECT_NE(std::find(log.begin(), log.end(), "300 restore 2,1,5,3"), log.end());
    }
}

TEST(PictureStop, WithoutAThreadAStopOnlyResetsAndAStartStillWaits) {
    PictureRig rig;
    ASSERT_TRUE(rig.LoadAbout());
    rig.control->StopAnimation();
    EXPECT_FALSE(rig.control->IsAnimating());
    rig.control->StartAnimation();
    // The frame's wait begins on an event that is not set.
    ASSERT_TRUE(rig.clock.AwaitWaiter(100ms));
    ASSERT_TRUE(rig.clock.RunToNextDeadline());
    ASSERT_TRUE(rig.clock.AwaitWaiter(100ms));
    EXPECT_EQ(rig.TimedLog().back(), "100 draw 2 0,0,59,76");
}

TEST(PictureStop, AStopInAFramesWaitEndsAtOnceAndAStartResumesAtThatFrame) {
    PictureRig rig;
    ASSERT_TRUE(rig.LoadAbout());
    rig.control->StartAnimation();
    ASSERT_TRUE(rig.clock.RunToNextDeadline());
    ASSERT_TRUE(rig.clock.RunToNextDeadline());
    ASSERT_TRUE(rig.clock.AwaitWaiter(100ms));  // frame 3 shown

    ExpectReturnsUnaided(rig, [&] { rig.control->StopAnimation(); });
    EXPECT_EQ(rig.clock.Now(), 200);
    EXPECT_FALSE(rig.control->IsAnimating());

    rig.canvas.ClearLog();
    rig.control->StartAnimation();
    ASSERT_TRUE(rig.clock.AwaitWaiter(100ms));
    EXPECT_EQ(rig.canvas.LogTexts(),
              (std::vector<std::string>{Fill("0,0,59,76", kBack), "draw 3 0,0,59,76"}));
    EXPECT_EQ(rig.canvas.Faults(), 0);
}

// The thread is held inside a frame's drawing beyond the stop's own wait:
// nothing it uses may be released until it has ended.
void ExpectNothingReleasedUnderTheThread(PictureRig& rig, const std::function<void()>& release) {
    ASSERT_TRUE(rig.LoadAbout());
    rig.canvas.HoldDraws();
    rig.control->StartAnimation();
    ASSERT_TRUE(rig.canvas.AwaitHeldDraw());

    auto done = std::async(std::launch::async, release);
    ASSERT_TRUE(rig.clock.AwaitWaiter(kStopWait));
    rig.clock.Advance(kStopWait);
    ASSERT_TRUE(rig.clock.AwaitWaiter(kWaitForever)) << "gave up on the thread";
    EXPECT_TRUE(rig.canvas.canvasExists);
    EXPECT_EQ(rig.decoder.released, 0);

    rig.canvas.ReleaseDraws();
    done.get();
    EXPECT_FALSE(rig.canvas.canvasExists);
    EXPECT_EQ(rig.decoder.released, 8);
    EXPECT_EQ(rig.canvas.Faults(), 0);
}

TEST(PictureStop, AClearWaitsForAThreadThatOutlastsTheStop) {
    PictureRig rig;
    ExpectNothingReleasedUnderTheThread(rig, [&] { rig.control->ClearPicture(); });
}

TEST(PictureStop, TheDestructorWaitsForAThreadThatOutlastsTheStop) {
    PictureRig rig;
    ExpectNothingReleasedUnderTheThread(rig, [&] { rig.control.reset(); });
}

TEST(PictureStop, DestroyingTheWindowEndsTheThreadAndLetsTheWindowGo) {
    PictureRig rig;
    ASSERT_TRUE(rig.LoadAbout());
    rig.control->StartAnimation();
    ASSERT_TRUE(rig.clock.AwaitWaiter(100ms));
    ExpectReturnsUnaided(rig, [&] { rig.control->HandleDestroy(); });
    EXPECT_FALSE(rig.control->IsAnimating());
    EXPECT_EQ(rig.canvas.bound, nullptr);
    rig.canvas.ClearLog();
    rig.control->HandlePaint();
    EXPECT_FALSE(rig.control->StartAnimation());
    rig.control.reset();
    EXPECT_TRUE(rig.canvas.Log().empty()) << "the window is no longer touched";
    EXPECT_EQ(rig.decoder.released, 8);
}

TEST(PictureStop, PaintsNeverOverlapTheDrawingOfAFrame) {
    PictureRig rig;
    ASSERT_TRUE(rig.LoadAbout());
    rig.control->StartAnimation();
    for (int step = 0; step < 40; ++step) {
        auto painter = std::async(std::launch::async, [&] {
            for (int i = 0; i < 5; ++i) rig.control->HandlePaint();
        });
        ASSERT_TRUE(rig.clock.RunToNextDeadline());
        painter.get();
    }
    EXPECT_EQ(rig.canvas.Faults(), 0);
}

}  // namespace
}  // namespace morvane
