#include "audio/pipewire/pw_devices.h"

#include <algorithm>
#include <cstring>

namespace morvane {

bool PwIsSource(const std::string& c) {
    return c == "Audio/Source" || c == "Audio/Source/Virtual" || c == "Audio/Duplex";
}

bool PwIsSink(const std::string& c) { return c == "Audio/Sink" || c == "Audio/Duplex"; }

namespace {

struct Ordered {
    uint64_t serial;
    int kind;  // a device before a monitor of the same serial
    PwDevice device;
};

std::vector<PwDevice> Sorted(std::vector<Ordered> items) {
    std::stable_sort(items.begin(), items.end(), [](const Ordered& a, const Ordered& b) {
        return a.serial != b.serial ? a.serial < b.serial : a.kind < b.kind;
    });
    std::vector<PwDevice> out;
    out.reserve(items.size());
    for (Ordered& i : items) out.push_back(std::move(i.device));
    return out;
}

}  // namespace

std::vector<PwDevice> PwCaptureDevices(const std::vector<PwNode>& nodes) {
    std::vector<Ordered> items;
    for (const PwNode& n : nodes) {
        if (PwIsSource(n.mediaClass)) items.push_back({n.serial, 0, {n.id, n.name, false, n.description}});
        if (n.mediaClass == "Audio/Sink")
            items.push_back({n.serial, 1, {n.id, n.name, true, "Monitor of " + n.description}});
    }
    return Sorted(std::move(items));
}

std::vector<PwDevice> PwPlaybackDevices(const std::vector<PwNode>& nodes) {
    std::vector<Ordered> items;
    for (const PwNode& n : nodes)
        if (PwIsSink(n.mediaClass)) items.push_back({n.serial, 0, {n.id, n.name, false, n.description}});
    return Sorted(std::move(items));
}

std::optional<size_t> PwFindDefault(const std::vector<PwDevice>& list, const std::string& name, bool capture,
                                    const std::vector<PwNode>& nodes) {
    if (name.empty()) return std::nullopt;
    bool sink = false;
    for (const PwNode& n : nodes)
        if (n.name == name) sink = n.mediaClass == "Audio/Sink";
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].target == name && (!capture || list[i].monitor == sink)) return i;
    return std::nullopt;
}

std::string PwDefaultName(const char* json) {
    // {"name":"tv"} or { "name": "tv" }: the server writes nothing fancier.
    if (json == nullptr) return {};
    const char* key = std::strstr(json, "\"name\"");
    if (key == nullptr) return {};
    const char* colon = std::strchr(key + 6, ':');
    if (colon == nullptr) return {};
    const char* open = std::strchr(colon, '"');
    if (open == nullptr) return {};
    std::string out;
    for (const char* p = open + 1; *p != '\0'; ++p) {
        if (*p == '\\' && p[1] != '\0') {
            out += *++p;
        } else if (*p == '"') {
            return out;
        } else {
            out += *p;
        }
    }
    return {};  // unterminated
}

}  // namespace morvane
