#include "support/gif_test_builder.h"

#include <algorithm>
#include <stdexcept>

namespace morvane::test {

GifBuilder::GifBuilder(uint16_t width, uint16_t height, int globalTableSize, const char* version) {
    m_bytes = {'G', 'I', 'F'};
    for (int i = 0; i < 3; ++i) m_bytes.push_back(static_cast<uint8_t>(version[i]));
    Word(width);
    Word(height);
    const bool table = globalTableSize >= 0;
    m_bytes.push_back(static_cast<uint8_t>((table ? 0x80 | (globalTableSize & 7) : 0) | 0x70));
    m_bytes.push_back(0);  // background colour index
    m_bytes.push_back(0);  // pixel aspect ratio
    if (table) {
        const std::size_t entries = std::size_t{1} << ((globalTableSize & 7) + 1);
        for (std::size_t i = 0; i < entries * 3; ++i) m_bytes.push_back(static_cast<uint8_t>(i * 7));
    }
    m_prefix = m_bytes.size();
}

std::size_t GifBuilder::Begin() {
    m_blocks.emplace_back(m_bytes.size(), 0);
    return m_bytes.size();
}

std::size_t GifBuilder::LengthOfBlockAt(std::size_t offset) const {
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        if (m_blocks[i].first != offset) continue;
        const std::size_t end = i + 1 < m_blocks.size() ? m_blocks[i + 1].first : m_bytes.size();
        return end - offset;
    }
    throw std::logic_error("no block starts there");
}

std::vector<uint8_t> GifBuilder::Slice(std::size_t from, std::size_t to) const {
    return {m_bytes.begin() + static_cast<std::ptrdiff_t>(from),
            m_bytes.begin() + static_cast<std::ptrdiff_t>(to)};
}

void GifBuilder::Word(uint16_t value) {
    m_bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    m_bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void GifBuilder::SubBlocks(const std::vector<uint8_t>& payload) {
    std::size_t pos = 0;
    while (pos < payload.size()) {
        const std::size_t n = std::min<std::size_t>(255, payload.size() - pos);
        m_bytes.push_back(static_cast<uint8_t>(n));
        m_bytes.insert(m_bytes.end(), payload.begin() + static_cast<std::ptrdiff_t>(pos),
                       payload.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    }
    m_bytes.push_back(0);
}

std::size_t GifBuilder::GraphicControl(uint16_t delay, int disposal, bool transparent) {
    const std::size_t at = Begin();
    m_bytes.insert(m_bytes.end(), {0x21, 0xF9, 4});
    m_bytes.push_back(static_cast<uint8_t>(((disposal & 7) << 2) | (transparent ? 1 : 0)));
    Word(delay);
    m_bytes.push_back(0);  // transparent colour index
    m_bytes.push_back(0);
    return at;
}

std::size_t GifBuilder::Image(uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                              std::size_t dataBytes, int localTableSize) {
    const std::size_t at = Begin();
    m_bytes.push_back(0x2C);
    Word(left);
    Word(top);
    Word(width);
    Word(height);
    const bool table = localTableSize >= 0;
    m_bytes.push_back(static_cast<uint8_t>(table ? 0x80 | (localTableSize & 7) : 0));
    if (table) {
        const std::size_t entries = std::size_t{1} << ((localTableSize & 7) + 1);
        for (std::size_t i = 0; i < entries * 3; ++i) m_bytes.push_back(static_cast<uint8_t>(255 - i));
    }
    m_bytes.push_back(8);  // LZW minimum code size
    std::vector<uint8_t> data(dataBytes);
    for (std::size_t i = 0; i < dataBytes; ++i) data[i] = static_cast<uint8_t>(i * 31 + 5);
    SubBlocks(data);
    return at;
}

std::size_t GifBuilder::PlainText(uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                                  const std::string& text) {
    const std::size_t at = Begin();
    m_bytes.insert(m_bytes.end(), {0x21, 0x01, 12});
    Word(left);
    Word(top);
    Word(width);
    Word(height);
    m_bytes.insert(m_bytes.end(), {8, 8, 1, 0});  // cell size, colours
    SubBlocks({text.begin(), text.end()});
    return at;
}

std::size_t GifBuilder::Application(const std::string& idAndCode, std::vector<uint8_t> payload) {
    const std::size_t at = Begin();
    m_bytes.insert(m_bytes.end(), {0x21, 0xFF, 11});
    for (std::size_t i = 0; i < 11; ++i)
        m_bytes.push_back(i < idAndCode.size() ? static_cast<uint8_t>(idAndCode[i]) : ' ');
    SubBlocks(payload);
    return at;
}

std::size_t GifBuilder::Looping() {
    return Application("NETSCAPE2.0", {1, 0, 0});
}

std::size_t GifBuilder::Comment(const std::string& text) {
    const std::size_t at = Begin();
    m_bytes.insert(m_bytes.end(), {0x21, 0xFE});
    SubBlocks({text.begin(), text.end()});
    return at;
}

std::size_t GifBuilder::Trailer() {
    const std::size_t at = Begin();
    m_bytes.push_back(0x3B);
    return at;
}

std::size_t GifBuilder::Raw(std::vector<uint8_t> bytes) {
    const std::size_t at = Begin();
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return at;
}

std::vector<uint8_t> ExpectedFrame(const GifBuilder& gif, std::size_t runStart, std::size_t runEnd) {
    std::vector<uint8_t> frame = gif.Slice(0, gif.PrefixBytes());
    const auto run = gif.Slice(runStart, runEnd);
    frame.insert(frame.end(), run.begin(), run.end());
    frame.push_back(0x3B);
    return frame;
}

}  // namespace morvane::test
