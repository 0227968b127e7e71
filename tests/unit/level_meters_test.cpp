#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "engine/level_meters.h"

using morvane::ScanPeaks;

namespace {
morvane::ChannelPeaks Scan(const std::vector<int16_t>& samples, uint32_t bytes = UINT32_MAX) {
    return ScanPeaks(reinterpret_cast<const char*>(samples.data()),
                     bytes == UINT32_MAX ? static_cast<uint32_t>(samples.size() * 2) : bytes);
}
}  // namespace

TEST(PeakScan, SilenceAndFullScale) {
    std::vector<int16_t> buffer(8820, 0);
    auto p = Scan(buffer);
    EXPECT_EQ(p.left, 0);
    EXPECT_EQ(p.right, 0);

    buffer[100] = 32767;    // left
    buffer[4001] = -32767;  // right
    p = Scan(buffer);
    EXPECT_EQ(p.left, 32767);
    EXPECT_EQ(p.right, 32767);

    buffer.assign(8820, 0);
    buffer[8818] = -32768;  // the last left sample, the most negative value
    buffer[8819] = 1200;
    p = Scan(buffer);
    EXPECT_EQ(p.left, 32767);
    EXPECT_EQ(p.right, 1200);
}

TEST(PeakScan, ChannelsStayApartAndAnUnpairedSampleIsIgnored) {
    const std::vector<int16_t> buffer = {-5, 300, 17, -299, 32000};
    auto p = Scan(buffer);  // five samples: the fifth has no partner
    EXPECT_EQ(p.left, 17);
    EXPECT_EQ(p.right, 300);
    p = Scan(buffer, 3);  // a byte length that ends inside the first pair
    EXPECT_EQ(p.left, 0);
    EXPECT_EQ(p.right, 0);
    EXPECT_EQ(ScanPeaks(nullptr, 100).left, 0);
}

TEST(PeakScan, TheWholeBufferLengthCountsNotTheRecordedBytes) {
    std::vector<int16_t> buffer(8820, 0);
    buffer[8000] = 999;
    morvane::WAVEHDR h{};
    h.lpData = reinterpret_cast<char*>(buffer.data());
    h.dwBufferLength = 17640;
    h.dwBytesRecorded = 4;
    EXPECT_EQ(ScanPeaks(h).left, 999);
}

// Every path the processor has, scanning alone and copying, against the
// sample-by-sample definition: random lengths (odd byte counts and fewer bytes
// than one vector among them), every start offset within a vector, and the
// extremes -32768 and +32767 placed at random, also in the last pair and the
// unpaired tail.
TEST(PeakScan, EveryPathMatchesTheDefinitionAtAnyLengthAndAlignment) {
    using morvane::PeakScanPath;
    std::mt19937 random(20240611);
    std::vector<unsigned char> source(4096 + 64), target(source.size()), expected(source.size());
    const auto sample = [](const unsigned char* p) { return int{static_cast<int16_t>(p[0] | (p[1] << 8))}; };
    const auto definition = [&](const unsigned char* p, uint32_t bytes) {
        int left = 0, right = 0;
        for (uint32_t k = 0; k + 4 <= bytes; k += 4) {
            left = std::max(left, std::min(std::abs(sample(p + k)), 32767));
            right = std::max(right, std::min(std::abs(sample(p + k + 2)), 32767));
        }
        return std::pair(left, right);
    };
    const auto put = [&](uint32_t at, int value) {
        source[at] = static_cast<unsigned char>(value & 0xFF);
        source[at + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
    };
    int checked = 0;
    for (PeakScanPath path : {PeakScanPath::Baseline, PeakScanPath::Avx2}) {
        if (!morvane::PeakScanPathAvailable(path)) continue;
        for (int round = 0; round < 3000; ++round) {
            const uint32_t bytes = round < 300 ? round : random() % 4096;
            const uint32_t offset = random() % 64;
            // Small amplitudes now and then, so that a wrong lane or a lost
            // block shows as a wrong peak rather than hiding under a full one.
            const int amplitude = round % 3 == 0 ? 300 : 32768;
            std::uniform_int_distribution<int> level(-amplitude, amplitude - 1);
            for (uint32_t at = 0; at + 1 < source.size(); at += 2) put(at, level(random));
            for (int extremes = round % 4; extremes > 0 && bytes >= 2; --extremes)
                put(offset + (random() % (bytes / 2)) * 2, random() % 2 ? -32768 : 32767);
            const auto want = definition(source.data() + offset, bytes);
            const char* data = reinterpret_cast<const char*>(source.data() + offset);
            const auto scanned = ScanPeaks(data, bytes, path);
            std::fill(target.begin(), target.end(), 0xA5);
            expected = target;
            std::copy_n(source.begin() + offset, bytes, expected.begin() + 64 - offset);
            const auto copied = morvane::CopyScanningPeaks(
                reinterpret_cast<char*>(target.data() + 64 - offset), data, bytes, path);
            const auto got = std::pair(int{scanned.left}, int{scanned.right});
            ASSERT_EQ(got, want) << "path " << int(path) << " bytes " << bytes << " offset " << offset;
            ASSERT_EQ(std::pair(int{copied.left}, int{copied.right}), want) << "bytes " << bytes;
            ASSERT_EQ(target, expected) << "bytes " << bytes << " offset " << offset;
            ++checked;
        }
    }
    EXPECT_GE(checked, 3000);
}
