#pragma once
// Builds GIF streams byte by byte for the cutter's tests. The image data is a
// plausible sub-block run, not real LZW: the cutter never decodes it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane::test {

class GifBuilder {
public:
    // Header and logical screen descriptor; `globalTableSize` is the 3-bit
    // size field n (3 x 2^(n+1) bytes), or negative for no global table.
    GifBuilder(uint16_t width, uint16_t height, int globalTableSize = 7,
               const char* version = "89a");

    // Each adder returns the block's offset and remembers its length.
    std::size_t GraphicControl(uint16_t delay, int disposal, bool transparent = false);
    std::size_t Image(uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                      std::size_t dataBytes = 20, int localTableSize = -1);
    std::size_t PlainText(uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                          const std::string& text = "hi");
    std::size_t Application(const std::string& idAndCode, std::vector<uint8_t> payload);
    std::size_t Looping();  // the 19-byte looping application extension
    std::size_t Comment(const std::string& text);
    std::size_t Trailer();
    std::size_t Raw(std::vector<uint8_t> bytes);

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::size_t Size() const { return m_bytes.size(); }
    // Header, screen descriptor and global table.
    std::size_t PrefixBytes() const { return m_prefix; }
    std::size_t LengthOfBlockAt(std::size_t offset) const;
    // Bytes [from, to) of the stream.
    std::vector<uint8_t> Slice(std::size_t from, std::size_t to) const;

private:
    std::size_t Begin();
    void Word(uint16_t value);
    void SubBlocks(const std::vector<uint8_t>& payload);

    std::vector<uint8_t> m_bytes;
    std::size_t m_prefix = 0;
    std::vector<std::pair<std::size_t, std::size_t>> m_blocks;  // offset, length
};

// The expected one-image GIF: the stream's prefix, a run of it, a trailer.
std::vector<uint8_t> ExpectedFrame(const GifBuilder& gif, std::size_t runStart, std::size_t runEnd);

}  // namespace morvane::test
