#include "ui/win32/win32_resources.h"

#include <string>

namespace morvane {

std::optional<std::vector<uint8_t>> CWin32ProgramResources::ReadResource(const ResourceName& name,
                                                                          std::string_view type) const {
    if (type.empty()) return std::nullopt;
    const std::string typeText(type);
    const char* nameText = std::holds_alternative<uint16_t>(name)
                               ? MAKEINTRESOURCEA(std::get<uint16_t>(name))
                               : std::get<std::string>(name).c_str();
    const HRSRC info = ::FindResourceA(m_instance, nameText, typeText.c_str());
    if (info == nullptr) return std::nullopt;
    const HGLOBAL loaded = ::LoadResource(m_instance, info);
    const DWORD size = ::SizeofResource(m_instance, info);
    const auto* bytes = loaded != nullptr ? static_cast<const uint8_t*>(::LockResource(loaded)) : nullptr;
    if (bytes == nullptr) return std::nullopt;
    return std::vector<uint8_t>(bytes, bytes + size);
}

}  // namespace morvane
