#pragma once
// A dialog host without widgets that remembers what the dialog did to it, for
// tests of the main window's logic. Setting the delay box's text notifies the
// dialog at once, as a real edit box does.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "message_pump.h"
#include "recording_controls.h"
#include "tuner/tuner.h"
#include "ui/dialog_host.h"

namespace morvane::sim {

class CRecordingHost : public CRecordingControls, public IDialogHost {
public:
    CRecordingHost();

    bool createFails = false;
    IDialogHandler* handler = nullptr;
    CMessagePump window;  // the wave devices post here
    std::map<int, std::vector<std::string>> comboItems;
    std::map<int, bool> checks;
    std::map<int, int> icons;
    std::map<int, std::pair<int, int>> ranges;
    int editLimit = 0;
    bool shown = false, destroyed = false, centred = false;
    int windowIcon = 0;
    int quitCode = -1;
    std::vector<std::pair<std::string, std::string>> messageBoxes;
    std::vector<std::string> launched;
    std::vector<intptr_t> launchResults;  // answered in turn; 42 once used up
    int aboutBoxes = 0;
    // What happens inside the message loop.
    std::function<void()> loop;

    // Sends a message to the dialog as the platform would.
    intptr_t Send(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    void Command(int id, uint32_t code = BN_CLICKED) { Send(WM_COMMAND, MakeCommand(id, code)); }

    // Controls: the engine's part comes from CRecordingControls.
    int ComboGetCurSel(int id) override { return CRecordingControls::ComboGetCurSel(id); }
    int TrackbarGetPos(int id) override { return CRecordingControls::TrackbarGetPos(id); }
    void TrackbarSetPos(int id, int pos, bool redraw) override {
        CRecordingControls::TrackbarSetPos(id, pos, redraw);
    }
    void TrackbarSetSel(int id, int start, int end, bool redraw) override {
        CRecordingControls::TrackbarSetSel(id, start, end, redraw);
    }
    std::string GetText(int id, size_t maxChars) override { return CRecordingControls::GetText(id, maxChars); }
    void SetText(int id, const std::string& t) override { CRecordingControls::SetText(id, t); }
    void EditGetSel(int id, int* s, int* e) override { CRecordingControls::EditGetSel(id, s, e); }
    void EditSetSel(int id, int s, int e) override { CRecordingControls::EditSetSel(id, s, e); }
    void EditScrollCaret(int id) override { CRecordingControls::EditScrollCaret(id); }
    void ProgressSetPos(int id, int pos) override { CRecordingControls::ProgressSetPos(id, pos); }

    bool CreateDialog(IDialogHandler& h) override;
    void ShowWindow() override { shown = true; }
    int RunMessageLoop() override;
    void CenterWindow() override { centred = true; }
    void SetWindowIcons(int iconId) override { windowIcon = iconId; }
    void DestroyWindow() override { destroyed = true; }
    void PostQuitMessage(int code) override { quitCode = code; }
    IWaveWindow* WaveWindow() override { return &window; }
    void ComboAddString(int id, const std::string& text) override { comboItems[id].push_back(text); }
    void ComboSetCurSel(int id, int index) override;
    void TrackbarSetRange(int id, int min, int max, bool) override { ranges[id] = {min, max}; }
    void TrackbarSetSelStart(int id, int start, bool) override { selStart = start; (void)id; }
    void EditLimitText(int, int chars) override { editLimit = chars; }
    void ProgressSetRange(int id, int min, int max) override { ranges[id] = {min, max}; }
    void ButtonSetIcon(int id, int iconId) override { icons[id] = iconId; }
    void ButtonSetCheck(int id, bool checked) override { checks[id] = checked; }
    void MessageBox(const std::string& text, const std::string& caption) override {
        messageBoxes.emplace_back(text, caption);
    }
    intptr_t ShellExecute(const std::string& file, const std::string& parameters) override;
    void RunAboutBox() override { ++aboutBoxes; }
};

// A tuner seam that counts what it is asked.
struct CountingTuner : ITuner {
    int graphs = 0, pages = 0, releases = 0;
    int tuners = 0;  // how many tuner devices it pretends to find
    void BuildTunerGraph() override { ++graphs; }
    int ShowTunerPages(IDialogHost&) override {
        ++pages;
        return tuners;
    }
    void ReleaseTuner() override { ++releases; }
};

}  // namespace morvane::sim
