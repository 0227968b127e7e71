#pragma once
// The portable half of loading a picture: decides whether a block of bytes is
// decoded whole as one still picture or cut into one-image GIF frames. The
// platform then decodes what this hands back and makes the canvas.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "ui/gif_frame_cutter.h"
#include "ui/gif_frame_entry.h"
#include "ui/program_resources.h"

namespace morvane {

enum class GifLoadKind {
    Failed,        // nothing to show
    StillPicture,  // decode `stillData` whole as one picture
    Frames,        // decode each entry of `frames` on its own
};

struct GifLoad {
    GifLoadKind kind = GifLoadKind::Failed;
    // The data was recognised as a GIF (set even when no frame was found).
    bool isGif = false;
    // For a GIF, the logical screen size: the canvas size whatever the size
    // of its images. Data that is no GIF leaves it 0 x 0; its canvas comes
    // from the decoded picture's own size.
    CanvasSize canvasSize;
    std::vector<uint8_t> stillData;   // StillPicture only: the whole block
    std::vector<FrameEntry> frames;   // Frames only: two or more, in file order
};

// Files larger than this are refused without being read. Every frame is
// rebuilt with its own copy of the header and colour table and then decoded
// into a picture of its own, so memory grows to several times the file; the
// control shows small dialog pictures (ours is a few kilobytes), and a cap
// keeps a stray path to a huge file or a device from being read into memory.
constexpr std::uintmax_t kMaxPictureFileBytes = 8u * 1024u * 1024u;

// Cuts `data`; the result refers to none of it.
GifLoad LoadFromGlobal(std::span<const uint8_t> data);

// Reads the whole file; Failed when it cannot be opened, its size cannot be
// told, it is empty, larger than kMaxPictureFileBytes, or reads short.
GifLoad LoadFromFile(const std::filesystem::path& path);

// Takes the bytes of a program resource; Failed when there is none.
GifLoad LoadFromResource(const IProgramResources& resources, const ResourceName& name,
                         std::string_view type);

}  // namespace morvane
