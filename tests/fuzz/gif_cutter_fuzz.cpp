// Feeds arbitrary bytes to the GIF loader and to a full walk of the frame
// cutter, and checks what must hold whatever the bytes are. Reads outside
// the data are left to the address and undefined-behaviour sanitizers.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "ui/gif_frame_cutter.h"
#include "ui/gif_loader.h"

namespace {

using morvane::CGifFrameCutter;
using morvane::FrameEntry;
using morvane::GifLoad;
using morvane::GifLoadKind;

// A failed check must stop the run even in a build without assertions.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

bool SameFrame(const FrameEntry& a, const FrameEntry& b) {
    return a.picture == b.picture && a.width == b.width && a.height == b.height &&
           a.left == b.left && a.top == b.top && a.delay == b.delay && a.disposal == b.disposal;
}

// A rebuilt frame is a one-image GIF in its own right: cut again, it must
// give itself back, or the decoder would see something else than was cut.
void CheckRecut(const FrameEntry& frame) {
    CGifFrameCutter again(frame.picture);
    FUZZ_CHECK(again.IsGif());
    FUZZ_CHECK(again.CountFrames() == 1);
    again.RewindToFirstBlock();
    const auto recut = again.CutNextFrame();
    FUZZ_CHECK(recut.has_value());
    FUZZ_CHECK(SameFrame(*recut, frame));
    FUZZ_CHECK(!again.CutNextFrame().has_value());
}

// Cuts every frame, walking a second cutter frame by frame beside it: both
// must stop at the same blocks. Returns the frames cut.
std::vector<FrameEntry> WalkAndCut(std::span<const uint8_t> data) {
    CGifFrameCutter cutter(data);
    CGifFrameCutter stepper(data);
    const std::size_t prefix = CGifFrameCutter::kHeaderBytes + cutter.GlobalTableBytes();
    std::vector<FrameEntry> frames;
    std::size_t previous = cutter.ReadPos();
    while (auto frame = cutter.CutNextFrame()) {
        FUZZ_CHECK(stepper.StepOverFrame());
        FUZZ_CHECK(stepper.ReadPos() == cutter.ReadPos());
        const std::size_t end = cutter.ReadPos();
        FUZZ_CHECK(end > previous && end <= data.size());

        const std::vector<uint8_t>& picture = frame->picture;
        // Prefix of the whole stream, a run that ends where the cut ended, trailer.
        FUZZ_CHECK(picture.size() > prefix + 1);
        FUZZ_CHECK(std::memcmp(picture.data(), data.data(), prefix) == 0);
        FUZZ_CHECK(picture.back() == 0x3B);
        const std::size_t run = picture.size() - prefix - 1;
        FUZZ_CHECK(run <= end - previous);
        FUZZ_CHECK(std::memcmp(picture.data() + prefix, data.data() + end - run, run) == 0);

        // The run starts with its graphic control extension, or is the
        // graphic block alone and then carries no timing.
        const uint8_t first = picture[prefix];
        const uint8_t label = run > 1 ? picture[prefix + 1] : 0;
        if (first == 0x21 && label == 0xF9) {
            FUZZ_CHECK(frame->delay <= 0xFFFF);
        } else {
            FUZZ_CHECK(first == 0x2C || (first == 0x21 && label == 0x01));
            FUZZ_CHECK(frame->delay == morvane::kNoFrameDelay);
            FUZZ_CHECK(frame->disposal == 0);
        }
        FUZZ_CHECK(frame->disposal >= 0 && frame->disposal <= 7);
        FUZZ_CHECK(frame->width >= 0 && frame->height >= 0 && frame->left >= 0 && frame->top >= 0);

        CheckRecut(*frame);
        frames.push_back(std::move(*frame));
        previous = end;
    }
    FUZZ_CHECK(!stepper.StepOverFrame());
    FUZZ_CHECK(!cutter.CutNextFrame().has_value());
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    const std::span<const uint8_t> data(bytes, size);
    const std::vector<FrameEntry> frames = WalkAndCut(data);

    CGifFrameCutter counter(data);
    const std::size_t count = counter.CountFrames();
    FUZZ_CHECK(count == frames.size());
    FUZZ_CHECK(counter.CountFrames() == count);  // a count starts from the first block again

    const GifLoad load = morvane::LoadFromGlobal(data);
    FUZZ_CHECK(load.isGif == counter.IsGif());
    if (size == 0) {
        FUZZ_CHECK(load.kind == GifLoadKind::Failed);
    } else if (!counter.IsGif()) {
        FUZZ_CHECK(load.kind == GifLoadKind::StillPicture);
    } else {
        FUZZ_CHECK(load.canvasSize == counter.LogicalScreen());
        const GifLoadKind expected = count == 0   ? GifLoadKind::Failed
                                     : count == 1 ? GifLoadKind::StillPicture
                                                  : GifLoadKind::Frames;
        FUZZ_CHECK(load.kind == expected);
    }
    if (load.kind == GifLoadKind::StillPicture) {
        // A still picture is decoded from the block as it came.
        FUZZ_CHECK(load.stillData.size() == size &&
                   std::memcmp(load.stillData.data(), bytes, size) == 0);
        FUZZ_CHECK(load.frames.empty());
    }
    if (load.kind == GifLoadKind::Frames) {
        FUZZ_CHECK(load.stillData.empty());
        FUZZ_CHECK(load.frames.size() == frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) FUZZ_CHECK(SameFrame(load.frames[i], frames[i]));
    }
    return 0;
}
