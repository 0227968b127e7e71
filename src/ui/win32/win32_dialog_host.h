#pragma once
// The main window on real Win32 controls: a modeless dialog made from its
// template, driven by the portable dialog logic through IDialogHost with
// messages to its controls, and handing every message of its dialog
// procedure to the portable message map. The window is also where the wave
// devices post their notifications, and its keyboard interface is a filter
// of the thread's message loop.

#include <vector>

#include "app/windows/message_loop.h"
#include "audio/winmm/win32_wave_window.h"
#include "ui/win32/win32_api.h"

namespace morvane {

class CWin32DialogHost final : public IDialogHost,
                               public IWin32WaveWindow,
                               public CMessageFilter,
                               public CIdleHandler {
public:
    // `showCommand`: how ShowWindow shows the window.
    explicit CWin32DialogHost(int showCommand = SW_SHOWNORMAL);
    ~CWin32DialogHost();
    CWin32DialogHost(const CWin32DialogHost&) = delete;
    CWin32DialogHost& operator=(const CWin32DialogHost&) = delete;

    // IWin32WaveWindow: the dialog, from its creation until it is destroyed.
    HWND Hwnd() const override { return m_hwnd; }

    // IDialogHost
    bool CreateDialog(IDialogHandler& handler) override;
    void ShowWindow() override;
    int RunMessageLoop() override;
    void CenterWindow() override;
    void SetWindowIcons(int iconId) override;
    void DestroyWindow() override;
    void PostQuitMessage(int code) override;
    IWaveWindow* WaveWindow() override { return this; }
    void ComboAddString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int index) override;
    void TrackbarSetRange(int id, int min, int max, bool redraw) override;
    void TrackbarSetSelStart(int id, int start, bool redraw) override;
    void EditLimitText(int id, int chars) override;
    void ProgressSetRange(int id, int min, int max) override;
    void ButtonSetIcon(int id, int iconId) override;
    void ButtonSetCheck(int id, bool checked) override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    intptr_t ShellExecute(const std::string& file, const std::string& parameters) override;
    void RunAboutBox() override;

    // IEngineControls
    int ComboGetCurSel(int id) override;
    int TrackbarGetPos(int id) override;
    void TrackbarSetPos(int id, int pos, bool redraw) override;
    void TrackbarSetSel(int id, int start, int end, bool redraw) override;
    std::string GetText(int id, size_t maxChars) override;
    void SetText(int id, const std::string& text) override;
    void EditGetSel(int id, int* start, int* end) override;
    void EditSetSel(int id, int start, int end) override;
    void EditScrollCaret(int id) override;
    void ProgressSetPos(int id, int pos) override;

    // CMessageFilter: the dialog's keyboard interface.
    bool PreTranslateMessage(MSG* msg) override;
    // CIdleHandler: nothing to do when idle.
    bool OnIdle() override { return false; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Send(int id, UINT msg, WPARAM wParam, LPARAM lParam) const;
    void Register();
    void Unregister();
    void FindRadiosOffTabOrder();
    void KeepRadiosOffTabOrder() const;

    int m_showCommand;
    HWND m_hwnd = nullptr;
    IDialogHandler* m_handler = nullptr;
    CMessageLoop* m_loop = nullptr;
    // Radio buttons that the template keeps out of the tab order.
    std::vector<HWND> m_radiosOffTabOrder;
};

}  // namespace morvane
