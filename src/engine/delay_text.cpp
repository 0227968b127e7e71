#include "engine/delay_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace morvane {

double ReadLeadingDecimal(const std::string& text) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
    // from_chars takes no sign of its own and ignores the locale.
    if (p < end && (*p == '+' || *p == '-')) return 0.0;
    double value = 0.0;
    const auto [stop, ec] = std::from_chars(p, end, value, std::chars_format::general);
    if (ec == std::errc::invalid_argument) return 0.0;
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small to hold: tell which from the exponent's sign.
        const char* e = std::find_if(p, stop, [](char c) { return c == 'e' || c == 'E'; });
        const bool tiny = e != stop && e + 1 < stop && e[1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    if (std::isnan(value)) return 0.0;
    return negative ? -value : value;
}

uint32_t DelayCountFromText(const std::string& text) {
    // The 0.01 lets a value a hair below a tenth count as that tenth.
    double v = ReadLeadingDecimal(text) + 0.01;
    // Too many digits for 29.9 s: the user most likely left out the point
    // (45 means 4.5 s); what is still too long is held at the longest delay.
    if (v >= 30.0) {
        v /= 10.0;
        if (v >= 30.0) v = 29.9;
    }
    v = std::max(v, 0.1);
    const double tenths = std::trunc(10.0 * v);
    return static_cast<uint32_t>(std::clamp(tenths, double(kMinDelayCount), double(kMaxDelayCount)));
}

std::string FormatDelayCount(uint32_t count) {
    return std::to_string(count / 10) + "." + std::to_string(count % 10);
}

}  // namespace morvane
