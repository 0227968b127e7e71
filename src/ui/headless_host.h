#pragma once
// A dialog host with no widgets, for running the delay line on a machine
// without a display. It keeps the controls' state as the window would show
// it, runs its own message queue, and reports on a text stream.

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ui/dialog_host.h"

namespace morvane {

class CHeadlessHost : public IDialogHost, private IWaveWindow {
public:
    // Progress and messages go to `report`; `interactive` redraws the fill
    // progress on one line (a terminal) instead of printing a line a second.
    explicit CHeadlessHost(std::FILE* report, bool interactive);
    ~CHeadlessHost();

    // Thread-safe: queues a line of user input (a delay such as "2.5", "+"
    // or "-", "play", "stop", "quit"). Answers false once the loop has ended.
    bool PostInput(const std::string& line);
    // Thread-safe: asks the window to close, as the Exit button does.
    void PostExit();
    // Thread-safe: runs `work` on the loop while the window is there.
    // Answers false once the loop has ended.
    bool PostCall(std::function<void()> work);

    bool CreateDialog(IDialogHandler& handler) override;
    void ShowWindow() override {}
    int RunMessageLoop() override;

    void CenterWindow() override {}
    void SetWindowIcons(int) override {}
    void DestroyWindow() override;
    void PostQuitMessage(int code) override;
    IWaveWindow* WaveWindow() override { return this; }

    int ComboGetCurSel(int id) override;
    void ComboAddString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int index) override;
    int TrackbarGetPos(int) override { return m_sliderPos; }
    void TrackbarSetPos(int, int pos, bool) override { m_sliderPos = pos; }
    void TrackbarSetRange(int, int min, int max, bool) override;
    void TrackbarSetSel(int id, int start, int end, bool redraw) override;
    void TrackbarSetSelStart(int, int, bool) override {}
    std::string GetText(int id, size_t maxChars) override;
    void SetText(int id, const std::string& text) override;
    void EditGetSel(int id, int* start, int* end) override;
    void EditSetSel(int id, int start, int end) override;
    void EditScrollCaret(int) override {}
    void EditLimitText(int, int chars) override { m_editLimit = chars; }
    void ProgressSetRange(int, int, int) override {}
    void ProgressSetPos(int id, int pos) override { m_meters[id] = pos; }
    void ButtonSetIcon(int, int) override {}
    void ButtonSetCheck(int id, bool checked) override { m_checks[id] = checked; }
    void MessageBox(const std::string& text, const std::string& caption) override;
    intptr_t ShellExecute(const std::string& file, const std::string& parameters) override;
    void RunAboutBox() override;

    const std::string& DelayText() const { return m_text; }
    const std::vector<std::string>& Items(int id) { return m_items[id]; }
    int Meter(int id) { return m_meters[id]; }

private:
    void PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) override;
    bool Post(std::function<void()> work);
    intptr_t Send(uint32_t msg, uintptr_t wParam, intptr_t lParam = 0);
    void Click(int id);
    void Type(const std::string& text);
    void Nudge(int step);
    void ShowDelay();
    void HandleInput(const std::string& line);
    void ShowFill(int filledTenths);

    std::FILE* m_report;
    bool m_interactive;
    IDialogHandler* m_handler = nullptr;
    bool m_destroyed = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_quit = false;
    bool m_ended = false;
    int m_quitCode = 0;

    std::map<int, std::vector<std::string>> m_items;
    std::map<int, int> m_selection;
    std::map<int, bool> m_checks;
    std::map<int, int> m_meters;
    int m_sliderPos = 0;
    int m_sliderMin = 0;
    int m_sliderMax = 0;
    std::string m_text;
    int m_editLimit = 0;
    int m_caret = 0;
    int m_lastFill = -1;
};

}  // namespace morvane
