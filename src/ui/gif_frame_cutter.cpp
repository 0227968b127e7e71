#include "ui/gif_frame_cutter.h"

#include <algorithm>
#include <cstring>

namespace morvane {

namespace {

constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kTrailer = 0x3B;

constexpr uint8_t kApplicationLabel = 0xFF;
constexpr uint8_t kCommentLabel = 0xFE;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kPlainTextLabel = 0x01;

// Bytes in front of each block's sub-block run: introducer, label, and the
// fixed part that follows the block-size byte (whose value is not trusted).
constexpr std::size_t kApplicationFixed = 14;
constexpr std::size_t kCommentFixed = 2;
constexpr std::size_t kGraphicControlLength = 8;
constexpr std::size_t kPlainTextFixed = 15;
constexpr std::size_t kImageFixed = 11;  // up to the LZW code size, without a local table

}  // namespace

CGifFrameCutter::CGifFrameCutter(std::span<const uint8_t> data) : m_data(data) {
    m_isGif = data.size() >= 6 && std::memcmp(data.data(), "GIF", 3) == 0 &&
              (std::memcmp(data.data() + 3, "87a", 3) == 0 ||
               std::memcmp(data.data() + 3, "89a", 3) == 0);
    if (!m_isGif) return;
    // A GIF too short for its screen descriptor keeps no table and no size;
    // its walk then finds no block.
    if (data.size() >= kHeaderBytes) {
        m_canvasSize = {WordAt(6), WordAt(8)};
        const uint8_t packed = ByteAt(10);
        if (packed & 0x80) m_globalTableBytes = ColourTableBytes(packed);
    }
    RewindToFirstBlock();
}

void CGifFrameCutter::RewindToFirstBlock() {
    m_readPos = kHeaderBytes + m_globalTableBytes;
}

GifBlockKind CGifFrameCutter::ClassifyBlock() const {
    if (m_readPos >= m_data.size()) return GifBlockKind::Unrecognised;
    switch (ByteAt(m_readPos)) {
    case kImageSeparator:
        return GifBlockKind::ImageDescriptor;
    case kTrailer:
        return GifBlockKind::Trailer;
    case kExtensionIntroducer:
        break;
    default:
        return GifBlockKind::Unrecognised;
    }
    if (m_readPos + 1 >= m_data.size()) return GifBlockKind::Unrecognised;
    switch (ByteAt(m_readPos + 1)) {
    case kApplicationLabel:
        return GifBlockKind::ApplicationExtension;
    case kCommentLabel:
        return GifBlockKind::CommentExtension;
    case kGraphicControlLabel:
        return GifBlockKind::GraphicControlExtension;
    case kPlainTextLabel:
        return GifBlockKind::PlainTextExtension;
    default:
        return GifBlockKind::Unrecognised;
    }
}

int64_t CGifFrameCutter::MeasureSubBlocks(std::size_t offset) const {
    std::size_t pos = offset;
    while (pos < m_data.size()) {
        const uint8_t size = ByteAt(pos);
        ++pos;
        if (size == 0) return static_cast<int64_t>(pos - offset);
        pos += size;
    }
    return -1;  // the run is not ended inside the data
}

int64_t CGifFrameCutter::MeasureBlock() const {
    // A run measured past the fixed part also proves the fixed part lies
    // inside the data, since the run's first size byte follows it.
    const auto withRun = [this](std::size_t fixed) -> int64_t {
        const int64_t run = MeasureSubBlocks(m_readPos + fixed);
        return run < 0 ? -1 : static_cast<int64_t>(fixed) + run;
    };
    switch (ClassifyBlock()) {
    case GifBlockKind::ApplicationExtension:
        return withRun(kApplicationFixed);
    case GifBlockKind::CommentExtension:
        return withRun(kCommentFixed);
    case GifBlockKind::GraphicControlExtension:
        // Its packed byte and delay are read by CutNextFrame: all of it must be here.
        if (m_data.size() - m_readPos < kGraphicControlLength) return -1;
        return static_cast<int64_t>(kGraphicControlLength);
    case GifBlockKind::PlainTextExtension:
        return withRun(kPlainTextFixed);
    case GifBlockKind::ImageDescriptor: {
        if (m_data.size() - m_readPos < 10) return -1;  // packed byte at offset 9
        const uint8_t packed = ByteAt(m_readPos + 9);
        const std::size_t localTable = (packed & 0x80) ? ColourTableBytes(packed) : 0;
        return withRun(kImageFixed + localTable);
    }
    case GifBlockKind::Trailer:
        return 1;
    case GifBlockKind::Unrecognised:
        break;
    }
    return -1;
}

bool CGifFrameCutter::StepOverBlock() {
    const int64_t length = MeasureBlock();
    if (length <= 0) return false;
    if (static_cast<uint64_t>(length) > m_data.size() - std::min(m_readPos, m_data.size()))
        return false;
    m_readPos += static_cast<std::size_t>(length);
    return true;
}

bool CGifFrameCutter::StepOverSkippedExtensions() {
    while (IsSkippedExtension(ClassifyBlock())) {
        if (!StepOverBlock()) return false;
    }
    return true;
}

bool CGifFrameCutter::StepOverFrame() {
    if (!m_isGif || m_data.empty()) return false;
    if (!StepOverSkippedExtensions()) return false;
    GifBlockKind kind = ClassifyBlock();
    if (kind == GifBlockKind::Unrecognised || kind == GifBlockKind::Trailer) return false;
    if (MeasureBlock() <= 0) return false;
    if (kind == GifBlockKind::GraphicControlExtension) {
        if (!StepOverBlock()) return false;
        // Everything up to the next graphic block belongs to this frame.
        while (!IsGraphicBlock(kind = ClassifyBlock())) {
            if (kind == GifBlockKind::Unrecognised || kind == GifBlockKind::Trailer) return false;
            if (!StepOverBlock()) return false;
        }
    }
    return StepOverBlock();
}

std::optional<FrameEntry> CGifFrameCutter::CutNextFrame() {
    if (!m_isGif || m_data.empty()) return std::nullopt;
    if (!StepOverSkippedExtensions()) return std::nullopt;
    GifBlockKind kind = ClassifyBlock();
    if (kind == GifBlockKind::Unrecognised || kind == GifBlockKind::Trailer) return std::nullopt;

    const std::size_t start = m_readPos;
    int64_t runLength = MeasureBlock();
    if (runLength <= 0) return std::nullopt;

    FrameEntry frame;
    if (kind == GifBlockKind::GraphicControlExtension) {
        frame.delay = WordAt(start + 4);
        frame.disposal = (ByteAt(start + 3) >> 2) & 7;
        if (!StepOverBlock()) return std::nullopt;
        // A second graphic control extension before the image is carried
        // along but the first one's timing stands.
        while (!IsGraphicBlock(kind = ClassifyBlock())) {
            if (kind == GifBlockKind::Unrecognised || kind == GifBlockKind::Trailer)
                return std::nullopt;
            const int64_t length = MeasureBlock();
            if (length <= 0 || !StepOverBlock()) return std::nullopt;
            runLength += length;
        }
        const int64_t graphicLength = MeasureBlock();
        if (graphicLength <= 0) return std::nullopt;
        runLength += graphicLength;
    }

    const std::size_t graphic = m_readPos;
    if (kind == GifBlockKind::ImageDescriptor) {
        frame.left = WordAt(graphic + 1);
        frame.top = WordAt(graphic + 3);
        frame.width = WordAt(graphic + 5);
        frame.height = WordAt(graphic + 7);
    } else {
        // A plain text block covers its text grid: place the frame there
        // rather than leave the placement undefined.
        frame.left = WordAt(graphic + 3);
        frame.top = WordAt(graphic + 5);
        frame.width = WordAt(graphic + 7);
        frame.height = WordAt(graphic + 9);
    }
    if (!StepOverBlock()) return std::nullopt;

    const std::size_t prefix = kHeaderBytes + m_globalTableBytes;
    const auto run = static_cast<std::size_t>(runLength);
    frame.picture.reserve(prefix + run + 1);
    frame.picture.assign(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(prefix));
    frame.picture.insert(frame.picture.end(), m_data.begin() + static_cast<std::ptrdiff_t>(start),
                         m_data.begin() + static_cast<std::ptrdiff_t>(start + run));
    frame.picture.push_back(kTrailer);
    return frame;
}

std::size_t CGifFrameCutter::CountFrames() {
    RewindToFirstBlock();
    std::size_t count = 0;
    while (StepOverFrame()) ++count;
    return count;
}

}  // namespace morvane
