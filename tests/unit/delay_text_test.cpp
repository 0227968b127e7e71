#include <gtest/gtest.h>

#include "engine/delay_text.h"

using morvane::DelayCountFromText;
using morvane::FormatDelayCount;
using morvane::ReadLeadingDecimal;

TEST(DelayText, EveryCanonicalTextReadsBackAsItsCount) {
    for (uint32_t d = 1; d <= 299; ++d) {
        const std::string text = FormatDelayCount(d);
        ASSERT_EQ(DelayCountFromText(text), d) << text;
    }
    EXPECT_EQ(FormatDelayCount(1), "0.1");
    EXPECT_EQ(FormatDelayCount(10), "1.0");
    EXPECT_EQ(FormatDelayCount(299), "29.9");
}

TEST(DelayText, NonCanonicalTextsTruncateToTenths) {
    EXPECT_EQ(DelayCountFromText("5"), 50u);
    EXPECT_EQ(DelayCountFromText("15.27"), 152u);
    EXPECT_EQ(DelayCountFromText("2.295"), 23u);  // within 0.01 of the next tenth
    EXPECT_EQ(DelayCountFromText("2.289"), 22u);
    EXPECT_EQ(DelayCountFromText("2.3abc"), 23u);
    EXPECT_EQ(DelayCountFromText(" 2.3"), 23u);
}

TEST(DelayText, StartUpTextsWithTheLeadingZero) {
    EXPECT_EQ(DelayCountFromText("01.0"), 10u);
    EXPECT_EQ(DelayCountFromText("0.5"), 5u);  // canonical: the rule changes nothing
    EXPECT_EQ(DelayCountFromText("045"), 45u);     // 4.5 s: the point was left out
    EXPECT_EQ(DelayCountFromText("029.99"), 30u);  // 3.0 s
    EXPECT_EQ(DelayCountFromText("0300"), 299u);   // held at 29.9 s
    EXPECT_EQ(DelayCountFromText("029.9"), 299u);
    EXPECT_EQ(DelayCountFromText("02.3"), 23u);
    EXPECT_EQ(DelayCountFromText("00"), 1u);
    EXPECT_EQ(DelayCountFromText("0abc"), 1u);
}

TEST(DelayText, AnythingElseStillGivesACountInRange) {
    for (const char* text : {"", "abc", "-", ".", "-5", "-0.3", "inf", "-inf", "nan", "NaN(1)", "1e999",
                             "-1e999", "1e-999", "99999999999999999999999", "0x1p8", "1e5",
                             "29.95", "29.999999999999999", "+7"}) {
        const uint32_t d = DelayCountFromText(text);
        EXPECT_GE(d, 1u) << text;
        EXPECT_LE(d, 299u) << text;
    }
    EXPECT_EQ(DelayCountFromText("inf"), 299u);
    EXPECT_EQ(DelayCountFromText("1e999"), 299u);
    EXPECT_EQ(DelayCountFromText("nan"), 1u);
    EXPECT_EQ(DelayCountFromText("-5"), 1u);
    EXPECT_EQ(DelayCountFromText("+7"), 70u);
    EXPECT_EQ(ReadLeadingDecimal("1e-999"), 0.0);
}
