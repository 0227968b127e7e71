#pragma once
// The program's resources as Qt keeps them: embedded files at
// ":/<type>/<name>", a number standing for an integer identifier.

#include "ui/program_resources.h"

namespace morvane {

class CQtProgramResources final : public IProgramResources {
public:
    CQtProgramResources();
    std::optional<std::vector<uint8_t>> ReadResource(const ResourceName& name,
                                                     std::string_view type) const override;
};

}  // namespace morvane
