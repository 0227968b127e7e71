#pragma once
// Command-line options: -in N, -out N, -delay S.T, -play.

namespace morvane {

// The marker returned for an option given without a value.
inline constexpr const char* kMissingOptionValue = "1";

// Looks `name` up among argv[1..argc-1]: the value text, the missing-value
// marker, or null when absent. The returned text lives as long as argv.
const char* GetOptionValue(const char* name, int argc, const char* const* argv);

// The process's own argument vector, recorded once at start-up, and the
// lookup over it.
void SetProcessArguments(int argc, const char* const* argv);
const char* GetOptionValue(const char* name);

// Decimal conversion of -in / -out: leading white space, an optional sign,
// digits up to the first other character; 0 without digits. Saturates
// instead of overflowing.
int ParseDeviceIndex(const char* text);

}  // namespace morvane
