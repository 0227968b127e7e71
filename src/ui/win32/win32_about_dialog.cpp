#include "ui/win32/win32_about_dialog.h"

#include "app/windows/app_module.h"
#include "resource.h"
#include "ui/win32/win32_resources.h"
#include "ui/win32/win32_window.h"

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
    return HandToMessageMap(*self->m_handler, msg, wParam, lParam);
}

void CWin32AboutDialog::CenterWindow() {
    if (m_hwnd != nullptr) CenterWindowOver(m_hwnd, ::GetParent(m_hwnd));
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
