#pragma once
// The delay box's text: reading it as a count of tenths of a second and
// writing a count back in canonical form ("%d.%d").

#include <cstdint>
#include <string>

namespace morvane {

inline constexpr uint32_t kMinDelayCount = 1;
inline constexpr uint32_t kMaxDelayCount = 299;

// The leading decimal number of `text` ("." as the point, whatever the
// locale); 0 when there is none, +-infinity for overflow.
double ReadLeadingDecimal(const std::string& text);

// The count of tenths (always 1..299) that the text stands for.
uint32_t DelayCountFromText(const std::string& text);

std::string FormatDelayCount(uint32_t count);

}  // namespace morvane
