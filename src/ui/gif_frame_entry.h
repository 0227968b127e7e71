#pragma once
// One frame of an animated GIF as the cutter hands it on: the frame rebuilt as
// a GIF of its own, plus what the animation loop needs to place and time it.
// Decoding `picture` into something drawable is the platform's job.

#include <cstdint>
#include <vector>

namespace morvane {

// The delay of a frame that has no graphic control extension.
constexpr uint32_t kNoFrameDelay = 0xFFFFFFFFu;

struct FrameEntry {
    // A complete one-image GIF: header, logical screen descriptor and global
    // colour table of the whole animation, the frame's run of blocks, trailer.
    std::vector<uint8_t> picture;
    int32_t width = 0;
    int32_t height = 0;
    int32_t left = 0;
    int32_t top = 0;
    uint32_t delay = kNoFrameDelay;  // hundredths of a second
    int32_t disposal = 0;            // 0..7
};

}  // namespace morvane
