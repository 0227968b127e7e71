#include "app/options.h"

#include <climits>
#include <cstring>

namespace morvane {
namespace {
int g_argc = 0;
const char* const* g_argv = nullptr;
}  // namespace

const char* GetOptionValue(const char* name, int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], name) != 0) continue;
        if (i + 1 >= argc || argv[i + 1][0] == '-') return kMissingOptionValue;
        return argv[i + 1];
    }
    return nullptr;
}

void SetProcessArguments(int argc, const char* const* argv) {
    g_argc = argc;
    g_argv = argv;
}

const char* GetOptionValue(const char* name) { return GetOptionValue(name, g_argc, g_argv); }

int ParseDeviceIndex(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    return static_cast<int>(value);
}

}  // namespace morvane
