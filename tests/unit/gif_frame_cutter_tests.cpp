// The block walk of the GIF frame cutter: block lengths, stepping, and the
// rebuilt one-image GIFs with their placement and timing.

#include <gtest/gtest.h>

#include "support/gif_test_builder.h"
#include "ui/gif_frame_cutter.h"

namespace morvane {
namespace {

using test::ExpectedFrame;
using test::GifBuilder;

// Puts the cutter's read position on the block at `offset`.
void SeekTo(CGifFrameCutter& cutter, std::size_t offset) {
    cutter.RewindToFirstBlock();
    while (cutter.ReadPos() < offset) ASSERT_TRUE(cutter.StepOverBlock());
    ASSERT_EQ(cutter.ReadPos(), offset);
}

TEST(GifBlocks, EachKindIsClassifiedAndMeasuredToItsEnd) {
    GifBuilder gif(10, 10, 1);
    const std::size_t app = gif.Looping();
    const std::size_t comment = gif.Comment(std::string(300, 'c'));  // two sub-blocks
    const std::size_t gce = gif.GraphicControl(7, 2);
    const std::size_t text = gif.PlainText(1, 2, 3, 4);
    const std::size_t image = gif.Image(0, 0, 10, 10, 600);
    const std::size_t local = gif.Image(0, 0, 10, 10, 5, 3);
    const std::size_t trailer = gif.Trailer();
    CGifFrameCutter cutter(gif.Bytes());
    ASSERT_TRUE(cutter.IsGif());
    EXPECT_EQ(cutter.GlobalTableBytes(), 12u);
    EXPECT_EQ(cutter.ReadPos(), 13u + 12u);

    const struct {
        std::size_t offset;
        GifBlockKind kind;
        int64_t length;
    } blocks[] = {
        {app, GifBlockKind::ApplicationExtension, 19},
        {comment, GifBlockKind::CommentExtension, 2 + 256 + 46 + 1},
        {gce, GifBlockKind::GraphicControlExtension, 8},
        {text, GifBlockKind::PlainTextExtension, 15 + 3 + 1},
        {image, GifBlockKind::ImageDescriptor, 11 + 256 + 256 + 91 + 1},
        {local, GifBlockKind::ImageDescriptor, 11 + 48 + 6 + 1},
        {trailer, GifBlockKind::Trailer, 1},
    };
    for (const auto& block : blocks) {
        SCOPED_TRACE(block.offset);
        SeekTo(cutter, block.offset);
        EXPECT_EQ(cutter.ClassifyBlock(), block.kind);
        EXPECT_EQ(cutter.MeasureBlock(), block.length);
        EXPECT_EQ(static_cast<std::size_t>(block.length), gif.LengthOfBlockAt(block.offset));
    }
    // The trailer ends the data exactly; past it nothing is recognised.
    ASSERT_TRUE(cutter.StepOverBlock());
    EXPECT_EQ(cutter.ReadPos(), gif.Size());
    EXPECT_EQ(cutter.ClassifyBlock(), GifBlockKind::Unrecognised);
    EXPECT_EQ(cutter.MeasureBlock(), -1);
    EXPECT_FALSE(cutter.StepOverBlock());
}

TEST(GifBlocks, UnknownBytesAndLabelsAreUnrecognised) {
    for (const std::vector<uint8_t>& raw : std::vector<std::vector<uint8_t>>{
             {0x00, 0x3B}, {0x21, 0x02, 0x00}, {0x21, 0xF8, 0x00}, {0x21}}) {
        GifBuilder gif(4, 4, -1);
        gif.Raw(raw);
        CGifFrameCutter cutter(gif.Bytes());
        EXPECT_EQ(cutter.ClassifyBlock(), GifBlockKind::Unrecognised);
        EXPECT_EQ(cutter.MeasureBlock(), -1);
        EXPECT_FALSE(cutter.StepOverBlock());
        EXPECT_EQ(cutter.ReadPos(), 13u);
    }
}

TEST(GifBlocks, SubBlockRunsAreMeasuredOnlyWhenEndedInsideTheData) {
    GifBuilder gif(4, 4, -1);
    gif.Raw({0, 3, 'a', 'b', 'c', 0, 2, 'x'});
    CGifFrameCutter cutter(gif.Bytes());
    EXPECT_EQ(cutter.MeasureSubBlocks(13), 1);       // empty run: the terminator alone
    EXPECT_EQ(cutter.MeasureSubBlocks(14), 5);       // one sub-block and terminator
    EXPECT_EQ(cutter.MeasureSubBlocks(19), -1);      // size byte says more than is left
    EXPECT_EQ(cutter.MeasureSubBlocks(gif.Size()), -1);
    EXPECT_EQ(cutter.MeasureSubBlocks(gif.Size() + 100), -1);
}

TEST(GifWalk, StepOverFrameCountsGraphicBlocksAndKeepsExtensionsWithTheirImage) {
    GifBuilder gif(20, 20);
    gif.Looping();
    gif.Comment("first");
    gif.GraphicControl(10, 2);
    gif.Comment("inside");
    gif.Image(0, 0, 20, 20);
    gif.Image(1, 1, 5, 5);                // no graphic control extension
    gif.GraphicControl(10, 0);
    gif.PlainText(0, 0, 20, 8);           // a plain text block is a frame too
    const std::size_t trailer = gif.Trailer();
    CGifFrameCutter cutter(gif.Bytes());
    EXPECT_EQ(cutter.CountFrames(), 3u);
    EXPECT_EQ(cutter.ReadPos(), trailer);  // stopped at the trailer, not past it
    EXPECT_FALSE(cutter.StepOverFrame());
}

TEST(GifWalk, TheWalkEndsAtWhatCannotStartAFrame) {
    // After one good frame: a control block whose image never comes (before
    // the trailer or the end of the data), or an unknown block with an image
    // behind it.
    for (const int variant : {0, 1, 2}) {
        SCOPED_TRACE(variant);
        GifBuilder gif(20, 20);
        gif.Image(0, 0, 20, 20);
        if (variant < 2) {
            gif.GraphicControl(10, 2);
            gif.Comment("never followed by an image");
            if (variant == 1) gif.Trailer();
        } else {
            gif.Raw({0x99});
            gif.Image(0, 0, 20, 20);
        }
        CGifFrameCutter cutter(gif.Bytes());
        EXPECT_EQ(cutter.CountFrames(), 1u);
        cutter.RewindToFirstBlock();
        EXPECT_TRUE(cutter.CutNextFrame().has_value());
        EXPECT_FALSE(cutter.CutNextFrame().has_value());
    }
}

TEST(GifCut, FramesAreRebuiltAsOneImageGifsWithTheirPlacementAndTiming) {
    GifBuilder gif(40, 30, 7);
    gif.Looping();
    const std::size_t gce1 = gif.GraphicControl(25, 2, true);
    const std::size_t img1 = gif.Image(3, 4, 30, 20, 400);
    const std::size_t img2 = gif.Image(5, 6, 7, 8, 10, 1);  // local table, no control block
    gif.Comment("between frames");
    const std::size_t gce3 = gif.GraphicControl(0xFFFE, 7);
    const std::size_t img3 = gif.Image(0, 0, 40, 30);
    gif.Trailer();
    CGifFrameCutter cutter(gif.Bytes());

    auto first = cutter.CutNextFrame();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->picture, ExpectedFrame(gif, gce1, img2));
    EXPECT_EQ(first->picture.size(), 13u + 768u + 8u + gif.LengthOfBlockAt(img1) + 1u);
    EXPECT_EQ(first->delay, 25u);
    EXPECT_EQ(first->disposal, 2);
    EXPECT_EQ(first->left, 3);
    EXPECT_EQ(first->top, 4);
    EXPECT_EQ(first->width, 30);
    EXPECT_EQ(first->height, 20);

    auto second = cutter.CutNextFrame();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->picture, ExpectedFrame(gif, img2, img2 + gif.LengthOfBlockAt(img2)));
    EXPECT_EQ(second->delay, kNoFrameDelay);
    EXPECT_EQ(second->disposal, 0);
    EXPECT_EQ(second->left, 5);
    EXPECT_EQ(second->top, 6);
    EXPECT_EQ(second->width, 7);
    EXPECT_EQ(second->height, 8);

    auto third = cutter.CutNextFrame();
    ASSERT_TRUE(third.has_value());
    EXPECT_EQ(third->picture, ExpectedFrame(gif, gce3, img3 + gif.LengthOfBlockAt(img3)));
    EXPECT_EQ(third->delay, 0xFFFEu);
    EXPECT_EQ(third->disposal, 7);

    EXPECT_FALSE(cutter.CutNextFrame().has_value());
}

TEST(GifCut, TheFirstOfTwoGraphicControlExtensionsGivesTheTiming) {
    GifBuilder gif(10, 10, 2);
    const std::size_t first = gif.GraphicControl(30, 1);
    gif.GraphicControl(99, 3);
    const std::size_t image = gif.Image(0, 0, 10, 10);
    gif.Image(0, 0, 10, 10);
    CGifFrameCutter cutter(gif.Bytes());
    auto frame = cutter.CutNextFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->delay, 30u);
    EXPECT_EQ(frame->disposal, 1);
    // Both control blocks travel with the image.
    EXPECT_EQ(frame->picture, ExpectedFrame(gif, first, image + gif.LengthOfBlockAt(image)));
}

TEST(GifCut, ExtensionsBetweenControlAndImageAreCopiedAndCounted) {
    GifBuilder gif(10, 10, -1);
    gif.Comment("skipped: before the control block");
    const std::size_t gce = gif.GraphicControl(4, 0);
    gif.Comment("kept");
    gif.Application("SOMEAPP1.0", {9, 9, 9});
    const std::size_t image = gif.Image(0, 0, 10, 10);
    gif.Image(0, 0, 10, 10);
    gif.Trailer();
    CGifFrameCutter cutter(gif.Bytes());
    auto frame = cutter.CutNextFrame();
    ASSERT_TRUE(frame.has_value());
    const std::size_t runEnd = image + gif.LengthOfBlockAt(image);
    EXPECT_EQ(frame->picture.size(), 13u + (runEnd - gce) + 1u);
    EXPECT_EQ(frame->picture, ExpectedFrame(gif, gce, runEnd));
}

TEST(GifCut, APlainTextFrameIsPlacedOnItsTextGrid) {
    GifBuilder gif(64, 32);
    const std::size_t gce = gif.GraphicControl(50, 2);
    const std::size_t text = gif.PlainText(8, 4, 48, 16, "delay");
    CGifFrameCutter cutter(gif.Bytes());
    auto frame = cutter.CutNextFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->picture, ExpectedFrame(gif, gce, text + gif.LengthOfBlockAt(text)));
    EXPECT_EQ(frame->delay, 50u);
    EXPECT_EQ(frame->left, 8);
    EXPECT_EQ(frame->top, 4);
    EXPECT_EQ(frame->width, 48);
    EXPECT_EQ(frame->height, 16);
}

TEST(GifCut, AStreamCutShortYieldsTheFramesWhollyBeforeTheCut) {
    GifBuilder gif(16, 16, 1);
    gif.Looping();
    std::vector<std::size_t> frameEnds;
    for (int i = 0; i < 3; ++i) {
        gif.GraphicControl(static_cast<uint16_t>(10 + i), 2);
        gif.Comment("x");
        const std::size_t image = gif.Image(0, 0, 16, 16, 40, i == 1 ? 0 : -1);
        frameEnds.push_back(image + gif.LengthOfBlockAt(image));
    }
    gif.Trailer();
    for (std::size_t size = 0; size <= gif.Size(); ++size) {
        SCOPED_TRACE(size);
        const auto bytes = gif.Slice(0, size);
        std::size_t expected = 0;
        while (expected < frameEnds.size() && frameEnds[expected] <= size) ++expected;
        CGifFrameCutter cutter(bytes);
        EXPECT_EQ(cutter.CountFrames(), expected);
        cutter.RewindToFirstBlock();
        std::size_t cut = 0;
        while (auto frame = cutter.CutNextFrame()) {
            EXPECT_EQ(frame->delay, 10u + cut);
            ++cut;
        }
        EXPECT_EQ(cut, expected);
    }
}

}  // namespace
}  // namespace morvane
