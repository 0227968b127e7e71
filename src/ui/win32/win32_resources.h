#pragma once
// The program's embedded resources, read from its module.

#include "ui/win32/win32_api.h"

namespace morvane {

class CWin32ProgramResources final : public IProgramResources {
public:
    explicit CWin32ProgramResources(HINSTANCE instance) : m_instance(instance) {}
    std::optional<std::vector<uint8_t>> ReadResource(const ResourceName& name, std::string_view type) const override;

private:
    HINSTANCE m_instance;
};

}  // namespace morvane
