#include "message_window.h"

#include <algorithm>

namespace morvane::winmmtest {
namespace {
constexpr wchar_t kClassName[] = L"MorvaneWaveTestWindow";

bool IsWaveMessage(UINT msg) { return msg >= MM_WOM_OPEN && msg <= MM_WIM_DATA; }
}  // namespace

CMessageWindow::CMessageWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &CMessageWindow::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);  // fails harmlessly once registered
    m_hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
}

CMessageWindow::~CMessageWindow() {
    if (m_hwnd != nullptr) DestroyWindow(m_hwnd);
}

LRESULT CALLBACK CMessageWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CMessageWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || !IsWaveMessage(msg)) return DefWindowProcW(hwnd, msg, wParam, lParam);
    auto* header = reinterpret_cast<WAVEHDR*>(lParam);
    self->m_messages.push_back({msg, static_cast<uintptr_t>(wParam), header,
                                header != nullptr ? header->dwFlags : 0u,
                                header != nullptr ? header->dwBytesRecorded : 0u,
                                std::chrono::steady_clock::now()});
    if (self->onMessage) self->onMessage(self->m_messages.back());
    return 0;
}

bool CMessageWindow::WaitFor(uint32_t msg, size_t count, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (Of(msg).size() >= count) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), 50)),
                                  QS_ALLINPUT);
    }
}

void CMessageWindow::Pump(int ms) { WaitFor(0, SIZE_MAX, ms); }

std::vector<WaveMessage> CMessageWindow::Of(uint32_t msg) const {
    std::vector<WaveMessage> out;
    for (const auto& m : m_messages)
        if (m.msg == msg) out.push_back(m);
    return out;
}

std::vector<uintptr_t> Indices(const std::vector<WaveMessage>& messages) {
    std::vector<uintptr_t> out;
    for (const auto& m : messages) out.push_back(m.header != nullptr ? m.header->dwUser : UINTPTR_MAX);
    return out;
}

}  // namespace morvane::winmmtest
