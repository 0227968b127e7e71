#include "ui/about_text.h"

#include <array>
#include <cstdio>
#include <sstream>

namespace morvane {

const char* const kBuildDate = __DATE__;

namespace {

constexpr std::array<std::string_view, 12> kMonths = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr int kUnknownMonth = 13;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

}  // namespace

std::string BuildNumberFromDate(std::string_view buildDate) {
    std::istringstream fields{std::string(buildDate)};
    std::string month;
    int day = 0;
    int year = 0;
    fields >> month >> day >> year;

    int monthNumber = kUnknownMonth;
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (month == kMonths[i]) {
            monthNumber = static_cast<int>(i) + 1;
            break;
        }
    }
    // Eight digits and a terminator.
    char number[9];
    std::snprintf(number, sizeof number, "%d%02d%02d", year, monthNumber, day);
    return number;
}

std::string FormatAboutText(std::string_view textTemplate, std::string_view argument,
                            std::size_t bufferChars) {
    std::string text(textTemplate);
    // The template is the control's own text, not a format of ours: nothing
    // in it but its one "%s" may be taken for a conversion.
    if (const std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, argument);
    if (bufferChars == 0) return {};
    if (text.size() >= bufferChars) {
        std::size_t keep = bufferChars - 1;
        while (keep > 0 && IsContinuationByte(text[keep])) --keep;
        text.resize(keep);
    }
    return text;
}

}  // namespace morvane
