#include "ui/win32/win32_api.h"

namespace morvane {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int length = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), n);
    return out;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

std::string WindowText(HWND window, std::size_t maxChars) {
    if (window == nullptr || maxChars == 0) return {};
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    std::string utf8 = Utf8(text);
    while (utf8.size() >= maxChars) {
        text.pop_back();
        utf8 = Utf8(text);
    }
    return utf8;
}

}  // namespace morvane
