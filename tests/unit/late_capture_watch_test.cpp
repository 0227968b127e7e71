// Late recorded sound is told once, and only when it keeps coming late.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "audio/late_capture_watch.h"

namespace morvane {
namespace {

std::string Told(std::FILE* f) {
    std::rewind(f);
    std::string out;
    for (int c; (c = std::fgetc(f)) != EOF;) out += static_cast<char>(c);
    return out;
}

TEST(LateCaptureWatch, OnlyARunOfLateBuffersTellsAndOnlyOnce) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    CLateCaptureWatch watch(f);
    // Two late, one on time, two late: no run of three.
    for (int64_t age : {400000, 400000, 20000, 301000, 350000}) EXPECT_FALSE(watch.Note(age));
    EXPECT_EQ(Told(f), "");
    EXPECT_TRUE(watch.Note(420000));
    EXPECT_NE(Told(f).find("arrives 420 ms late"), std::string::npos);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(watch.Note(500000));
    EXPECT_EQ(Told(f).find("late", Told(f).find("late") + 1), std::string::npos);
    std::fclose(f);
}

}  // namespace
}  // namespace morvane
