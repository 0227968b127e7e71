// What a load hands the platform: a still picture, a list of frames, or
// nothing; from memory, from a file and from a program resource.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "support/gif_test_builder.h"
#include "ui/gif_loader.h"

namespace morvane {
namespace {

using test::GifBuilder;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The program's About picture as its blocks lie: 59 x 76, a 256-entry global
// table, the looping extension, and eight images behind control blocks.
constexpr uint16_t kAboutDelays[8] = {10, 10, 10, 100, 10, 10, 10, 100};

void ExpectAboutPicture(const GifLoad& load, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(load.kind, GifLoadKind::Frames);
    EXPECT_TRUE(load.isGif);
    EXPECT_EQ(load.canvasSize, (CanvasSize{59, 76}));
    ASSERT_EQ(load.frames.size(), 8u);
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + 13 + 768);
    for (std::size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        const FrameEntry& frame = load.frames[i];
        EXPECT_EQ(frame.width, 59);
        EXPECT_EQ(frame.height, 76);
        EXPECT_EQ(frame.left, 0);
        EXPECT_EQ(frame.top, 0);
        EXPECT_EQ(frame.delay, kAboutDelays[i]);
        EXPECT_EQ(frame.disposal, 2);
        // Prefix unchanged, then the control block (not the looping block),
        // then the image, then one trailer byte.
        ASSERT_GT(frame.picture.size(), 13u + 768u + 8u + 1u);
        EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), frame.picture.begin()));
        EXPECT_EQ(frame.picture[781], 0x21);
        EXPECT_EQ(frame.picture[782], 0xF9);
        EXPECT_EQ(frame.picture[789], 0x2C);
        EXPECT_EQ(frame.picture.back(), 0x3B);
    }
}

TEST(GifLoad, TheAboutPictureBecomesEightFrames) {
    GifBuilder gif(59, 76, 7);
    gif.Looping();
    std::vector<std::size_t> imageLengths;
    for (int i = 0; i < 8; ++i) {
        gif.GraphicControl(kAboutDelays[i], 2);
        const std::size_t image = gif.Image(0, 0, 59, 76, 2000 + static_cast<std::size_t>(i) * 37);
        imageLengths.push_back(gif.LengthOfBlockAt(image));
    }
    gif.Trailer();
    const GifLoad load = LoadFromGlobal(gif.Bytes());
    ExpectAboutPicture(load, gif.Bytes());
    ASSERT_EQ(load.frames.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(load.frames[i].picture.size(), 13u + 768u + 8u + imageLengths[i] + 1u);
    EXPECT_TRUE(load.stillData.empty());
}

TEST(GifLoad, TheCommittedAboutPictureBecomesEightFrames) {
    const std::filesystem::path path = std::filesystem::path(MORVANE_RES_DIR) / "about.gif";
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path;
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    // Its looping extension sits between the global table and the first frame.
    ASSERT_GT(bytes.size(), 781u + 19u);
    EXPECT_EQ(std::string(bytes.begin() + 781, bytes.begin() + 795), "\x21\xFF\x0BNETSCAPE2.0");

    const GifLoad load = LoadFromFile(path);
    ExpectAboutPicture(load, bytes);
    // The frames add up to the file: each takes its own run, and nothing but
    // the header, the looping block and the trailer is left out.
    std::size_t runs = 0;
    for (const FrameEntry& frame : load.frames) runs += frame.picture.size() - 781 - 1;
    EXPECT_EQ(781 + 19 + runs + 1, bytes.size());
}

TEST(GifLoad, ASingleImageIsOneStillPictureOnTheLogicalScreen) {
    for (const bool control : {false, true}) {
        SCOPED_TRACE(control);
        GifBuilder gif(100, 80, 3, control ? "89a" : "87a");
        gif.Comment("only one");
        if (control) gif.GraphicControl(10, 2);
        gif.Image(10, 20, 30, 40);
        gif.Trailer();
        const GifLoad load = LoadFromGlobal(gif.Bytes());
        EXPECT_EQ(load.kind, GifLoadKind::StillPicture);
        EXPECT_TRUE(load.isGif);
        EXPECT_EQ(load.canvasSize, (CanvasSize{100, 80}));
        EXPECT_EQ(load.stillData, gif.Bytes());  // decoded whole, as it came
        EXPECT_TRUE(load.frames.empty());
    }
}

TEST(GifLoad, ImagesWithoutTrailerOrPlainTextStillCount) {
    GifBuilder gif(32, 32, 0);
    gif.Image(0, 0, 32, 32);
    gif.PlainText(0, 0, 32, 8);
    gif.Image(0, 0, 16, 16, 10, 5);  // local table, and no trailer after it
    const GifLoad load = LoadFromGlobal(gif.Bytes());
    ASSERT_EQ(load.kind, GifLoadKind::Frames);
    ASSERT_EQ(load.frames.size(), 3u);
    EXPECT_EQ(load.frames[2].width, 16);
    EXPECT_EQ(load.frames[2].picture.back(), 0x3B);
}

TEST(GifLoad, OtherVersionsAndOtherDataAreOneStillPicture) {
    GifBuilder gif(10, 10, -1, "88a");
    gif.Image(0, 0, 10, 10);
    gif.Image(0, 0, 10, 10);
    gif.Trailer();
    for (const auto& bytes : {gif.Bytes(), Bytes("GIF89"), Bytes("\x89PNG\r\n\x1a\n"), Bytes("G")}) {
        const GifLoad load = LoadFromGlobal(bytes);
        EXPECT_EQ(load.kind, GifLoadKind::StillPicture);
        EXPECT_FALSE(load.isGif);
        EXPECT_EQ(load.canvasSize, (CanvasSize{0, 0}));  // the decoded picture sizes it
        EXPECT_EQ(load.stillData, bytes);
    }
}

TEST(GifLoad, EmptyAndTruncatedGifsGiveNothing) {
    GifBuilder headerOnly(10, 10, 7);
    const auto withTable = headerOnly.Bytes();
    headerOnly.Trailer();
    GifBuilder cut(10, 10, -1);
    cut.GraphicControl(10, 2);
    cut.Image(0, 0, 10, 10);
    const auto cutShort = cut.Slice(0, cut.Size() - 1);
    for (const auto& bytes : {std::vector<uint8_t>{}, Bytes("GIF89a"), std::vector<uint8_t>{'G', 'I', 'F', '8', '7', 'a', 10, 0, 10, 0},
                              std::vector<uint8_t>(withTable.begin(), withTable.begin() + 400),
                              withTable, headerOnly.Bytes(), cutShort}) {
        SCOPED_TRACE(bytes.size());
        const GifLoad load = LoadFromGlobal(bytes);
        EXPECT_EQ(load.kind, GifLoadKind::Failed);
        EXPECT_EQ(load.isGif, !bytes.empty());
        EXPECT_TRUE(load.stillData.empty());
        EXPECT_TRUE(load.frames.empty());
    }
}

class GifFileLoad : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("morvane_gif_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const auto path = m_dir / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path m_dir;
};

TEST_F(GifFileLoad, AFileLoadsLikeTheSameBytesInMemory) {
    GifBuilder gif(12, 12, 1);
    gif.GraphicControl(3, 2);
    gif.Image(0, 0, 12, 12);
    gif.GraphicControl(4, 3);
    gif.Image(2, 2, 4, 4);
    gif.Trailer();
    const GifLoad load = LoadFromFile(Write("two.gif", gif.Bytes()));
    ASSERT_EQ(load.kind, GifLoadKind::Frames);
    const GifLoad fromMemory = LoadFromGlobal(gif.Bytes());
    ASSERT_EQ(load.frames.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(load.frames[i].picture, fromMemory.frames[i].picture);
        EXPECT_EQ(load.frames[i].delay, fromMemory.frames[i].delay);
        EXPECT_EQ(load.frames[i].disposal, fromMemory.frames[i].disposal);
    }
    const GifLoad other = LoadFromFile(Write("picture.bmp", Bytes("BM not a gif")));
    EXPECT_EQ(other.kind, GifLoadKind::StillPicture);
    EXPECT_EQ(other.stillData, Bytes("BM not a gif"));
}

TEST_F(GifFileLoad, MissingEmptyOversizedAndUnsizableFilesAreRefused) {
    EXPECT_EQ(LoadFromFile(m_dir / "missing.gif").kind, GifLoadKind::Failed);
    EXPECT_EQ(LoadFromFile(Write("empty.gif", {})).kind, GifLoadKind::Failed);
    EXPECT_EQ(LoadFromFile(m_dir).kind, GifLoadKind::Failed);  // a directory has no picture size

    // A picture just at the cap loads; one byte more is refused unread.
    std::vector<uint8_t> big(kMaxPictureFileBytes, 0);
    big[0] = 'B';
    EXPECT_EQ(LoadFromFile(Write("at_cap.bin", big)).kind, GifLoadKind::StillPicture);
    big.push_back(0);
    EXPECT_EQ(LoadFromFile(Write("over_cap.bin", big)).kind, GifLoadKind::Failed);
}

// Resources as a platform would answer: found by name and type, or not.
class FakeResources : public IProgramResources {
public:
    std::map<std::pair<ResourceName, std::string>, std::vector<uint8_t>> entries;
    std::optional<std::vector<uint8_t>> ReadResource(const ResourceName& name,
                                                     std::string_view type) const override {
        const auto found = entries.find({name, std::string(type)});
        if (found == entries.end()) return std::nullopt;
        return found->second;
    }
};

TEST(GifResourceLoad, TheResourceOfTheGivenNameAndTypeIsLoaded) {
    GifBuilder gif(8, 8, 0);
    gif.Image(0, 0, 8, 8);
    gif.Image(0, 0, 4, 4);
    gif.Trailer();
    FakeResources resources;
    resources.entries[{ResourceName{uint16_t{211}}, "BINARY"}] = gif.Bytes();
    resources.entries[{ResourceName{std::string("LOGO")}, "BINARY"}] = Bytes("not a gif");
    resources.entries[{ResourceName{uint16_t{5}}, "BINARY"}] = {};

    const GifLoad load = LoadFromResource(resources, uint16_t{211}, "BINARY");
    ASSERT_EQ(load.kind, GifLoadKind::Frames);
    EXPECT_EQ(load.frames.size(), 2u);
    EXPECT_EQ(LoadFromResource(resources, std::string("LOGO"), "BINARY").kind,
              GifLoadKind::StillPicture);
    EXPECT_EQ(LoadFromResource(resources, uint16_t{211}, "GIF").kind, GifLoadKind::Failed);
    EXPECT_EQ(LoadFromResource(resources, uint16_t{212}, "BINARY").kind, GifLoadKind::Failed);
    EXPECT_EQ(LoadFromResource(resources, uint16_t{5}, "BINARY").kind, GifLoadKind::Failed);
}

}  // namespace
}  // namespace morvane
