// Fetching the server's sources and sinks, and which clock each runs on.

#include "audio/pulse/pulse_device_list.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

#include "audio/pulse/pulse_context.h"

namespace morvane {
namespace {

struct ListFetch {
    struct Item {
        uint32_t index;
        std::string name, description;
        std::string clock;  // or "of:" and the device whose clock it runs on
    };
    std::vector<Item> items;
    bool complete = false;
};

std::string Prop(pa_proplist* p, const char* key) {
    const char* v = p != nullptr ? pa_proplist_gets(p, key) : nullptr;
    return v != nullptr ? v : "";
}

// A sound card's devices share its clock; a virtual device runs on its
// master's; the server's null devices on the system clock. Anything else
// (a pipe fed from outside, a network device) has its own.
std::string ClockOf(const char* kind, const char* name, const char* driver, pa_proplist* props,
                    const char* monitorOf) {
    if (monitorOf != nullptr && *monitorOf != '\0') return std::string("of:") + monitorOf;
    if (const std::string card = Prop(props, "alsa.card"); !card.empty()) return "card:" + card;
    if (const std::string master = Prop(props, "device.master_device"); !master.empty()) return "of:" + master;
    if (driver != nullptr && std::strstr(driver, "null-") != nullptr) return "system";
    return std::string(kind) + ":" + (name != nullptr ? name : "");
}

void Collect(ListFetch* f, int eol, uint32_t index, const char* name, const char* description,
             std::string clock) {
    if (eol != 0) {
        f->complete = eol > 0;
        return;
    }
    std::string shown = description != nullptr ? description : "";
    if (shown.empty()) shown = name != nullptr ? name : "";
    f->items.push_back({index, name != nullptr ? name : "", std::move(shown), std::move(clock)});
}

void CollectSource(pa_context*, const pa_source_info* i, int eol, void* userdata) {
    auto* f = static_cast<ListFetch*>(userdata);
    if (eol == 0 && i == nullptr) return;
    Collect(f, eol, i ? i->index : 0, i ? i->name : nullptr, i ? i->description : nullptr,
            i ? ClockOf("source", i->name, i->driver, i->proplist, i->monitor_of_sink_name) : "");
}

void CollectSink(pa_context*, const pa_sink_info* i, int eol, void* userdata) {
    auto* f = static_cast<ListFetch*>(userdata);
    if (eol == 0 && i == nullptr) return;
    Collect(f, eol, i ? i->index : 0, i ? i->name : nullptr, i ? i->description : nullptr,
            i ? ClockOf("sink", i->name, i->driver, i->proplist, nullptr) : "");
}

}  // namespace

bool CPulseDeviceList::Refresh(bool eager) {
    bool renewed = false;
    const bool connected = m_context.Ensure(eager, &renewed);
    if (renewed || !connected) {
        m_sources.clear();
        m_sinks.clear();
    }
    if (!connected) return false;
    if (!m_context.ListsStale()) return true;
    // An event that arrives while fetching marks the lists stale again.
    m_context.SetListsStale(false);
    ListFetch sources, sinks;
    const bool ok =
        m_context.WaitOperation(pa_context_get_source_info_list(m_context.Get(), &CollectSource, &sources),
                                CPulseContext::kOperationTimeoutMs) &&
        m_context.WaitOperation(pa_context_get_sink_info_list(m_context.Get(), &CollectSink, &sinks),
                                CPulseContext::kOperationTimeoutMs) &&
        sources.complete && sinks.complete;
    if (!ok) {
        m_context.SetListsStale(true);
        return !m_sources.empty() || !m_sinks.empty();
    }
    // "of:" a device: that device's clock, through any chain of them.
    auto clockOf = [&](std::string clock) {
        for (int depth = 0; depth < 8 && clock.rfind("of:", 0) == 0; ++depth) {
            const std::string master = clock.substr(3);
            std::string next;
            for (const ListFetch* f : {&sinks, &sources})
                for (const ListFetch::Item& i : f->items)
                    if (next.empty() && i.name == master) next = i.clock;
            clock = next;
        }
        return clock.rfind("of:", 0) == 0 ? std::string() : clock;
    };
    auto store = [&](ListFetch& f, std::vector<Entry>* out) {
        std::sort(f.items.begin(), f.items.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
        out->clear();
        for (ListFetch::Item& i : f.items) out->push_back({i.index, i.name, i.description, clockOf(i.clock)});
    };
    store(sources, &m_sources);
    store(sinks, &m_sinks);
    return true;
}

MMRESULT CPulseDeviceList::Name(bool capture, uint32_t id, std::string* name) const {
    const std::vector<Entry>& list = List(capture);
    if (id == WAVE_MAPPER) return DefaultName(capture, name);
    if (id >= list.size()) return MMSYSERR_BADDEVICEID;
    *name = list[id].description;
    return MMSYSERR_NOERROR;
}

// The mapper is the server's default source or sink, which is what an open
// beyond the list gets: named as the list names it.
MMRESULT CPulseDeviceList::DefaultName(bool capture, std::string* name) const {
    struct Defaults {
        std::string source, sink;
    } defaults;
    if (!m_context.WaitOperation(pa_context_get_server_info(
                                     m_context.Get(),
                                     [](pa_context*, const pa_server_info* info, void* out) {
                                         auto* d = static_cast<Defaults*>(out);
                                         if (info == nullptr) return;
                                         if (info->default_source_name != nullptr)
                                             d->source = info->default_source_name;
                                         if (info->default_sink_name != nullptr) d->sink = info->default_sink_name;
                                     },
                                     &defaults),
                                 CPulseContext::kOperationTimeoutMs))
        return MMSYSERR_NODRIVER;
    const std::string& wanted = capture ? defaults.source : defaults.sink;
    if (wanted.empty()) return MMSYSERR_BADDEVICEID;
    *name = wanted;
    for (const Entry& e : List(capture))
        if (e.name == wanted) *name = e.description;
    return MMSYSERR_NOERROR;
}

}  // namespace morvane
