#include "ui/gif_loader.h"

#include <fstream>
#include <utility>

namespace morvane {

namespace {

// `data` is taken by value so that file and resource loads hand their buffer
// over instead of copying it for a still picture.
GifLoad LoadOwned(std::vector<uint8_t> data) {
    GifLoad result;
    // Nothing of zero bytes can be decoded.
    if (data.empty()) return result;

    CGifFrameCutter cutter(data);
    if (!cutter.IsGif()) {
        result.kind = GifLoadKind::StillPicture;
        result.stillData = std::move(data);
        return result;
    }
    result.isGif = true;
    result.canvasSize = cutter.LogicalScreen();

    const std::size_t count = cutter.CountFrames();
    if (count == 0) return result;
    if (count == 1) {
        // A single image is decoded from the original block, as it was made.
        result.kind = GifLoadKind::StillPicture;
        result.stillData = std::move(data);
        return result;
    }
    cutter.RewindToFirstBlock();
    result.frames.reserve(count);
    while (auto frame = cutter.CutNextFrame()) result.frames.push_back(std::move(*frame));
    result.kind = GifLoadKind::Frames;
    return result;
}

}  // namespace

GifLoad LoadFromGlobal(std::span<const uint8_t> data) {
    return LoadOwned(std::vector<uint8_t>(data.begin(), data.end()));
}

GifLoad LoadFromFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    // A size that cannot be told (a pipe, a failed seek) is refused rather
    // than guessed; so is one beyond any picture we would show.
    if (!file || size <= 0 || static_cast<std::uintmax_t>(size) > kMaxPictureFileBytes) return {};
    file.seekg(0, std::ios::beg);
    if (!file) return {};
    std::vector<uint8_t> data(static_cast<std::size_t>(size));
    file.read(reinterpret_cast<char*>(data.data()), size);
    if (file.gcount() != size) return {};
    return LoadOwned(std::move(data));
}

GifLoad LoadFromResource(const IProgramResources& resources, const ResourceName& name,
                         std::string_view type) {
    auto bytes = resources.ReadResource(name, type);
    if (!bytes) return {};
    return LoadOwned(std::move(*bytes));
}

}  // namespace morvane
