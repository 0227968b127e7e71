#pragma once
// The server's devices as the wave interface numbers them.
//
// Capture devices are the server's sources, monitors of sinks included;
// playback devices are its sinks. Both lists are ordered by server index and
// named by description. WAVE_MAPPER's name is the server's default device's.
// The lists are cached: server events mark them stale (see CPulseContext)
// and the next count, name or open query fetches them again, so a count
// query in a loop costs no round trip. Each entry also says which clock the
// device runs on, so that playback knows whether to follow capture's.
//
// Called under the loop's lock.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/wave_api.h"

namespace morvane {

class CPulseContext;

class CPulseDeviceList {
public:
    struct Entry {
        uint32_t index;
        std::string name;
        std::string description;
        // Which clock the device runs on: equal for devices that cannot
        // drift apart; empty when unknown.
        std::string clock;
    };

    explicit CPulseDeviceList(CPulseContext& context) : m_context(context) {}

    // Connects if need be and fetches the lists if stale. False when there
    // is no server, or no list could be fetched from a new one.
    bool Refresh(bool eager);
    const std::vector<Entry>& List(bool capture) const { return capture ? m_sources : m_sinks; }
    MMRESULT Name(bool capture, uint32_t id, std::string* name) const;

private:
    MMRESULT DefaultName(bool capture, std::string* name) const;

    CPulseContext& m_context;
    std::vector<Entry> m_sources;
    std::vector<Entry> m_sinks;
};

}  // namespace morvane
