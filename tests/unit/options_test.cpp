#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"

using morvane::GetOptionValue;
using morvane::ParseDeviceIndex;

namespace {
// Looks `name` up in a command line given as words after the program name.
std::string Lookup(std::vector<const char*> words, const char* name) {
    words.insert(words.begin(), "morvane");
    const char* v = GetOptionValue(name, static_cast<int>(words.size()), words.data());
    return v == nullptr ? "<null>" : v;
}
}  // namespace

TEST(OptionLookup, ValuesMarkersAndAbsence) {
    EXPECT_EQ(Lookup({}, "-in"), "<null>");
    EXPECT_EQ(Lookup({"-in", "2"}, "-in"), "2");
    EXPECT_EQ(Lookup({"-in"}, "-in"), "1");                  // last argument
    EXPECT_EQ(Lookup({"-in", "-play"}, "-in"), "1");         // followed by an option
    EXPECT_EQ(Lookup({"-in", "-1"}, "-in"), "1");            // a value never starts with '-'
    EXPECT_EQ(Lookup({"-in", ""}, "-in"), "");               // empty value is a value
    EXPECT_EQ(Lookup({"-in", "2", "-in", "0"}, "-in"), "2"); // first occurrence wins
    EXPECT_EQ(Lookup({"-play", "0"}, "-play"), "0");         // presence is what counts
}

TEST(OptionLookup, WholeCaseSensitiveNamesOnly) {
    EXPECT_EQ(Lookup({"-IN", "2"}, "-in"), "<null>");
    EXPECT_EQ(Lookup({"/in", "2"}, "-in"), "<null>");
    EXPECT_EQ(Lookup({"-play2"}, "-play"), "<null>");
    EXPECT_EQ(Lookup({"-Play"}, "-play"), "<null>");
    EXPECT_EQ(Lookup({"-i"}, "-in"), "<null>");
    // The program name itself is never an option.
    const char* argv[] = {"-play"};
    EXPECT_EQ(GetOptionValue("-play", 1, argv), nullptr);
    // An option met in a value position is still found by its own lookup.
    EXPECT_EQ(Lookup({"-delay", "-play"}, "-delay"), "1");
    EXPECT_EQ(Lookup({"-delay", "-play"}, "-play"), "1");
}

TEST(OptionLookup, ProcessArgumentsAreRemembered) {
    static const char* argv[] = {"morvane", "-out", "3"};
    morvane::SetProcessArguments(3, argv);
    EXPECT_STREQ(GetOptionValue("-out"), "3");
    EXPECT_EQ(GetOptionValue("-in"), nullptr);
    morvane::SetProcessArguments(0, nullptr);
    EXPECT_EQ(GetOptionValue("-out"), nullptr);
}

TEST(DeviceIndexConversion, LeadingDigitsOnly) {
    EXPECT_EQ(ParseDeviceIndex("1"), 1);
    EXPECT_EQ(ParseDeviceIndex("1x"), 1);
    EXPECT_EQ(ParseDeviceIndex("x"), 0);
    EXPECT_EQ(ParseDeviceIndex(""), 0);
    EXPECT_EQ(ParseDeviceIndex("  \t12"), 12);
    EXPECT_EQ(ParseDeviceIndex("+7"), 7);
    EXPECT_EQ(ParseDeviceIndex(" -3"), -3);
    EXPECT_EQ(ParseDeviceIndex("2.9"), 2);
    EXPECT_EQ(ParseDeviceIndex("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseDeviceIndex("-99999999999999999999"), -2147483647 - 1);
}
