#include <gtest/gtest.h>

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
