// morvane-gif-frames FILE: prints what the GIF frame cutter makes of a file,
// one line per frame ("index left top width height delay disposal bytes"),
// or "still" when the data is decoded whole. For looking into a picture that
// the About box or a test shows differently than expected.

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ui/gif_loader.h"

namespace {

constexpr const char* kUsage = "usage: morvane-gif-frames FILE\n";

bool Readable(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::filesystem::path path(argv[1]);
    std::error_code error;
    // The loader reports every failure alike; tell an unreadable file from a
    // picture without frames before loading.
    if (std::filesystem::is_directory(path, error) || !Readable(path)) {
        std::fprintf(stderr, "morvane-gif-frames: cannot read %s\n", argv[1]);
        return 1;
    }
    const morvane::GifLoad load = morvane::LoadFromFile(path);
    switch (load.kind) {
    case morvane::GifLoadKind::Failed:
        if (load.isGif)
            std::fprintf(stderr, "morvane-gif-frames: no graphic block found in %s\n", argv[1]);
        else
            std::fprintf(stderr, "morvane-gif-frames: cannot read %s (empty, or larger than %ju bytes)\n",
                         argv[1], morvane::kMaxPictureFileBytes);
        return 1;
    case morvane::GifLoadKind::StillPicture:
        std::puts("still");
        return 0;
    case morvane::GifLoadKind::Frames:
        break;
    }
    for (std::size_t i = 0; i < load.frames.size(); ++i) {
        const morvane::FrameEntry& f = load.frames[i];
        std::printf("%zu %d %d %d %d %u %d %zu\n", i, static_cast<int>(f.left), static_cast<int>(f.top),
                    static_cast<int>(f.width), static_cast<int>(f.height), static_cast<unsigned>(f.delay),
                    static_cast<int>(f.disposal), f.picture.size());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
