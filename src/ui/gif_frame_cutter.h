#pragma once
// Walks the block structure of a GIF stream and cuts every graphic block out
// into a GIF of its own. No image data is decoded here.
//
// Every read stays inside the data: a block whose fixed part or sub-block run
// would reach past the end is invalid, so a stream cut short yields the
// frames that lie wholly before the damage.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "ui/gif_frame_entry.h"

namespace morvane {

enum class GifBlockKind {
    ApplicationExtension,    // 0x21 0xFF
    CommentExtension,        // 0x21 0xFE
    GraphicControlExtension, // 0x21 0xF9
    PlainTextExtension,      // 0x21 0x01
    ImageDescriptor,         // 0x2C
    Trailer,                 // 0x3B
    Unrecognised,
};

struct CanvasSize {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const CanvasSize&, const CanvasSize&) = default;
};

class CGifFrameCutter {
public:
    // Size of header plus logical screen descriptor.
    static constexpr std::size_t kHeaderBytes = 13;

    // The cutter reads `data` in place; the caller keeps it alive meanwhile.
    // Recognises the stream, reads the global colour table length and the
    // logical screen size, and leaves the read position at the first block.
    explicit CGifFrameCutter(std::span<const uint8_t> data);

    bool IsGif() const { return m_isGif; }
    // The logical screen size; 0 x 0 when the data is no GIF or too short.
    CanvasSize LogicalScreen() const { return m_canvasSize; }
    std::size_t GlobalTableBytes() const { return m_globalTableBytes; }
    std::size_t ReadPos() const { return m_readPos; }

    void RewindToFirstBlock();

    GifBlockKind ClassifyBlock() const;
    // Byte length of the block at the read position, -1 when it is invalid.
    int64_t MeasureBlock() const;
    // Length of the sub-block run that begins at `offset`, terminator
    // included; -1 when the run is not ended inside the data.
    int64_t MeasureSubBlocks(std::size_t offset) const;

    bool StepOverBlock();
    // Moves past one graphic block and the extensions in front of it.
    bool StepOverFrame();
    // Moves past the next graphic block like StepOverFrame and returns it
    // rebuilt as a one-image GIF with its placement and timing.
    std::optional<FrameEntry> CutNextFrame();

    // Rewinds and counts the frames that StepOverFrame can walk.
    std::size_t CountFrames();

private:
    uint8_t ByteAt(std::size_t offset) const { return m_data[offset]; }
    uint16_t WordAt(std::size_t offset) const {
        return static_cast<uint16_t>(m_data[offset] | (m_data[offset + 1] << 8));
    }
    static bool IsGraphicBlock(GifBlockKind kind) {
        return kind == GifBlockKind::ImageDescriptor || kind == GifBlockKind::PlainTextExtension;
    }
    static bool IsSkippedExtension(GifBlockKind kind) {
        return kind == GifBlockKind::ApplicationExtension ||
               kind == GifBlockKind::CommentExtension;
    }
    bool StepOverSkippedExtensions();

    std::span<const uint8_t> m_data;
    std::size_t m_readPos = 0;
    std::size_t m_globalTableBytes = 0;
    bool m_isGif = false;
    CanvasSize m_canvasSize;
};

// 3 x 2^(n+1) bytes for the size field n (bits 0..2 of a packed byte).
constexpr std::size_t ColourTableBytes(uint8_t packed) {
    return std::size_t{3} << ((packed & 7u) + 1);
}

}  // namespace morvane
