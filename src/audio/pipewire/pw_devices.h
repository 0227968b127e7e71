#pragma once
// The device lists from the graph's nodes, in the order and with the names
// the same system shows through its PulseAudio protocol server, so that a
// device's index means the same on either layer: capture devices are the
// sources and a monitor of every sink, playback devices the sinks, each list
// ordered by the node's serial number (a monitor takes its sink's), named by
// description ("Monitor of " and the sink's for a monitor).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

struct PwNode {
    uint32_t id = 0;
    uint64_t serial = 0;
    std::string name;         // node.name
    std::string description;  // node.description, else node.nick, else the name
    std::string mediaClass;
};

struct PwDevice {
    uint32_t nodeId;
    std::string target;  // the node's name, to connect a stream to
    bool monitor;        // capture from a sink's monitor
    std::string description;
};

bool PwIsSource(const std::string& mediaClass);
bool PwIsSink(const std::string& mediaClass);
std::vector<PwDevice> PwCaptureDevices(const std::vector<PwNode>& nodes);
std::vector<PwDevice> PwPlaybackDevices(const std::vector<PwNode>& nodes);

// The default device's index in a list, from the name the server's defaults
// give (a sink's name as the default source means its monitor).
std::optional<size_t> PwFindDefault(const std::vector<PwDevice>& list, const std::string& name, bool capture,
                                    const std::vector<PwNode>& nodes);

// The value of "name" in a default-device setting ({"name":"tv"}).
std::string PwDefaultName(const char* json);

}  // namespace morvane
