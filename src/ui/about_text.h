#pragma once
// The About box's text: the build number made from the build date, and the
// text template that carries it.

#include <cstddef>
#include <string>
#include <string_view>

namespace morvane {

// The date this program was built, as the compiler gives it: "Mmm dd yyyy",
// the day padded with a space.
extern const char* const kBuildDate;

// "Nov  7 2016" gives "20161107". A month that is not one of the twelve
// English abbreviations counts as month 13.
std::string BuildNumberFromDate(std::string_view buildDate);

// The template with its first "%s" replaced by `argument`; every other "%"
// stays as it is, and a template without "%s" comes back unchanged. The
// result keeps below `bufferChars` characters, as a text buffer of that size
// with its terminator would, and never ends inside a UTF-8 sequence.
std::string FormatAboutText(std::string_view textTemplate, std::string_view argument,
                            std::size_t bufferChars);

}  // namespace morvane
