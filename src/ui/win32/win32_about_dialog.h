#pragma once
// The About box on Win32: a modal dialog from its template, driven by the
// portable About logic through IAboutHost, with the picture control over
// the template's placeholder.

#include "ui/win32/win32_api.h"
#include "ui/win32/win32_picture.h"

namespace morvane {

class CWin32AboutDialog final : public IAboutHost {
public:
    CWin32AboutDialog() = default;
    CWin32AboutDialog(const CWin32AboutDialog&) = delete;
    CWin32AboutDialog& operator=(const CWin32AboutDialog&) = delete;

    // Runs the box over `owner` with `handler` as its message map; returns
    // the code it was ended with, or -1 when it could not be made.
    INT_PTR Run(HWND owner, IDialogHandler& handler);
    HWND Hwnd() const { return m_hwnd; }

    // IAboutHost
    void CenterWindow() override;
    IPictureCanvas* PictureControl(int id) override;
    std::string GetDlgItemText(int id, std::size_t maxChars) override;
    void SetDlgItemText(int id, const std::string& text) override;
    void EndDialog(int result) override;
    void OpenWebPage(const std::string& address) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hwnd = nullptr;
    IDialogHandler* m_handler = nullptr;
    CWin32PictureWindow m_picture;
};

// Opens the About box over `owner` and returns when it is closed, with the
// code it was ended with.
INT_PTR RunWin32AboutBox(HWND owner);

}  // namespace morvane
