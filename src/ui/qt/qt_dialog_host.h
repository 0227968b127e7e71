#pragma once
// The main window on Qt widgets: built from its template, driven by the
// portable dialog logic through IDialogHost, and reporting the user's
// actions back to it as the window messages its message map takes.

#include <map>
#include <memory>

#include "ui/dialog_host.h"
#include "ui/qt/qt_wave_window.h"

class QWidget;

namespace morvane {

class CQtMainWindow;

class CQtDialogHost final : public IDialogHost {
public:
    // Needs a QApplication. The host must outlive the handler it is given.
    CQtDialogHost();
    ~CQtDialogHost();
    CQtDialogHost(const CQtDialogHost&) = delete;
    CQtDialogHost& operator=(const CQtDialogHost&) = delete;

    // The window and its controls by id (null before CreateDialog or for an
    // unknown id); for the shell and for tests.
    QWidget* Window() const;
    QWidget* Control(int id) const;

    // IDialogHost
    bool CreateDialog(IDialogHandler& handler) override;
    void ShowWindow() override;
    int RunMessageLoop() override;
    void CenterWindow() override;
    void SetWindowIcons(int iconId) override;
    void DestroyWindow() override;
    void PostQuitMessage(int code) override;
    IWaveWindow* WaveWindow() override { return &m_waveWindow; }
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

private:
    void BuildControls();
    intptr_t Send(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    template <typename T>
    T* Find(int id) const;
    // The owner for modal boxes: the window while it is there.
    QWidget* ModalOwner() const;

    std::unique_ptr<CQtMainWindow> m_window;
    std::map<int, QWidget*> m_controls;
    IDialogHandler* m_handler = nullptr;
    CQtWaveWindow m_waveWindow;
    bool m_quitPosted = false;
    int m_quitCode = 0;
};

}  // namespace morvane
