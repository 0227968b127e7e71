#include "ui/win32/win32_about_dialog.h"

#include "app/windows/app_module.h"
#include "resource.h"
#include "ui/win32/win32_resources.h"

namespace morvane {

INT_PTR CWin32AboutDialog::Run(HWND owner, IDialogHandler& handler) {
    m_handler = &handler;
    return ::DialogBoxParamA(AppModule().GetResourceInstance(), MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CWin32AboutDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CWin32AboutDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CWin32AboutDialog*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
    }
    if (self == nullptr || self->m_handler == nullptr) return FALSE;
    if (msg == WM_NCDESTROY) {
        self->m_hwnd = nullptr;
        return FALSE;
    }
    bool handled = false;
    const intptr_t result = self->m_handler->HandleMessage(msg, wParam, lParam, &handled);
    if (!handled) return FALSE;
    return msg == WM_INITDIALOG ? static_cast<INT_PTR>(result) : TRUE;
}

// Over the owner when there is one, else in the work area.
void CWin32AboutDialog::CenterWindow() {
    if (m_hwnd == nullptr) return;
    RECT area;
    const HWND parent = ::GetParent(m_hwnd);
    if (parent != nullptr && ::IsWindowVisible(parent) && !::IsIconic(parent)) {
        ::GetWindowRect(parent, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (!::GetMonitorInfoA(::MonitorFromWindow(m_hwnd, MONITOR_DEFAULTTONEAREST), &monitor)) return;
        area = monitor.rcWork;
    }
    RECT window;
    ::GetWindowRect(m_hwnd, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    ::SetWindowPos(m_hwnd, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

IPictureCanvas* CWin32AboutDialog::PictureControl(int id) {
    if (m_hwnd == nullptr) return nullptr;
    if (m_picture.Hwnd() == nullptr && !m_picture.Attach(::GetDlgItem(m_hwnd, id))) return nullptr;
    return &m_picture;
}

std::string CWin32AboutDialog::GetDlgItemText(int id, std::size_t maxChars) {
    return m_hwnd != nullptr ? WindowText(::GetDlgItem(m_hwnd, id), maxChars) : std::string();
}

void CWin32AboutDialog::SetDlgItemText(int id, const std::string& text) {
    if (m_hwnd != nullptr) ::SetDlgItemTextW(m_hwnd, id, Wide(text).c_str());
}

void CWin32AboutDialog::EndDialog(int result) {
    if (m_hwnd != nullptr) ::EndDialog(m_hwnd, result);
}

void CWin32AboutDialog::OpenWebPage(const std::string& address) {
    ::ShellExecuteW(nullptr, L"open", Wide(address).c_str(), L"", L"", SW_SHOWDEFAULT);
}

INT_PTR RunWin32AboutBox(HWND owner) {
    // In this order so that the logic, with its picture control, goes
    // before the window object it draws into.
    CWin32AboutDialog dialog;
    CWin32ProgramResources resources(AppModule().GetResourceInstance());
    CWin32PictureDecoder decoder;
    CAboutDlg about(dialog, resources, decoder, Win32WaitClock());
    return dialog.Run(owner, about);
}

}  // namespace morvane
