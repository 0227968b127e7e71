#pragma once
// Read access to the program's own embedded resources. Each platform answers
// it from wherever it keeps them (a Qt resource on Linux, a module resource
// on Windows); the portable loaders only ever see the bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morvane {

// A resource is named either by a string or by a 16-bit integer identifier,
// as module resources are.
using ResourceName = std::variant<uint16_t, std::string>;

class IProgramResources {
public:
    virtual ~IProgramResources() = default;
    // A copy of the resource's bytes, or nothing when there is no such
    // resource or it cannot be read.
    virtual std::optional<std::vector<uint8_t>> ReadResource(const ResourceName& name,
                                                             std::string_view type) const = 0;
};

}  // namespace morvane
