#include "ui/win32/win32_window.h"

namespace morvane {

void CenterWindowOver(HWND window, HWND over) {
    if (window == nullptr) return;
    RECT area;
    if (over != nullptr && ::IsWindowVisible(over) && !::IsIconic(over)) {
        ::GetWindowRect(over, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (!::GetMonitorInfoA(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return;
        area = monitor.rcWork;
    }
    RECT rect;
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    ::SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR HandToMessageMap(IDialogHandler& handler, UINT msg, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    const intptr_t result = handler.HandleMessage(msg, wParam, lParam, &handled);
    if (!handled) return FALSE;
    return msg == WM_INITDIALOG ? static_cast<INT_PTR>(result) : TRUE;
}

}  // namespace morvane
