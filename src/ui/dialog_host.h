#pragma once
// What the windows' portable logic needs of a platform's dialog: its controls
// by id, the window itself, and a few services. Implemented on Win32 controls,
// on Qt widgets, without widgets for headless runs, and by a recorder in tests.

#include <cstdint>
#include <string>

#include "audio/wave_api.h"
#include "engine/engine_controls.h"

namespace morvane {

// Window messages and notification codes the portable message maps take.
inline constexpr uint32_t WM_INITDIALOG = 0x0110;
inline constexpr uint32_t WM_COMMAND = 0x0111;
inline constexpr uint32_t WM_HSCROLL = 0x0114;
inline constexpr uint32_t BN_CLICKED = 0;
inline constexpr uint32_t CBN_SELCHANGE = 1;
inline constexpr uint32_t EN_CHANGE = 0x0300;
inline constexpr uint32_t EN_UPDATE = 0x0400;
// Slider scroll codes besides thumb-track and end-track.
inline constexpr uint32_t TB_LINEUP = 0;
inline constexpr uint32_t TB_LINEDOWN = 1;
inline constexpr uint32_t TB_PAGEUP = 2;
inline constexpr uint32_t TB_PAGEDOWN = 3;
inline constexpr uint32_t TB_THUMBPOSITION = 4;
inline constexpr uint32_t TB_TOP = 6;
inline constexpr uint32_t TB_BOTTOM = 7;

inline constexpr uintptr_t MakeCommand(int id, uint32_t code) {
    return (static_cast<uintptr_t>(code) << 16) | (static_cast<uint32_t>(id) & 0xFFFFu);
}

// A dialog's message map: native events come in as these messages.
class IDialogHandler {
public:
    // Returns the handler's result; *handled tells whether the map took it.
    virtual intptr_t HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool* handled) = 0;

protected:
    ~IDialogHandler() = default;
};

class IDialogHost : public IEngineControls {
public:
    // Life of the window. Create builds it hidden and runs WM_INITDIALOG
    // through `handler` before it returns; false when it cannot be made.
    virtual bool CreateDialog(IDialogHandler& handler) = 0;
    virtual void ShowWindow() = 0;
    // Runs until PostQuitMessage; returns its code.
    virtual int RunMessageLoop() = 0;

    // The window.
    virtual void CenterWindow() = 0;
    virtual void SetWindowIcons(int iconId) = 0;
    virtual void DestroyWindow() = 0;
    // Ends the message loop with `code` as its result.
    virtual void PostQuitMessage(int code) = 0;
    // Where the wave devices post their notifications for this window.
    virtual IWaveWindow* WaveWindow() = 0;

    // Controls.
    virtual void ComboAddString(int id, const std::string& text) = 0;
    virtual void ComboSetCurSel(int id, int index) = 0;
    virtual void TrackbarSetRange(int id, int min, int max, bool redraw) = 0;
    virtual void TrackbarSetSelStart(int id, int start, bool redraw) = 0;
    virtual void EditLimitText(int id, int chars) = 0;
    virtual void ProgressSetRange(int id, int min, int max) = 0;
    virtual void ButtonSetIcon(int id, int iconId) = 0;
    virtual void ButtonSetCheck(int id, bool checked) = 0;

    // Services.
    // A modal message box with an OK button only.
    virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
    // Starts a program; the shell's result: above 32 on success, 2 when the
    // file was not found.
    virtual intptr_t ShellExecute(const std::string& file, const std::string& parameters) = 0;
    // Runs the About box modally; wave notifications keep flowing meanwhile.
    virtual void RunAboutBox() = 0;

protected:
    ~IDialogHost() = default;
};

}  // namespace morvane
