#pragma once
// Engine controls that remember what was set, as the real widgets would show
// it, and log every call for order checks.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/engine_controls.h"

namespace morvane::sim {

class CRecordingControls : public IEngineControls {
public:
    // Called by SetText, as the delay box's own update notification would.
    std::function<void()> onTextSet;
    bool logCalls = true;
    std::vector<std::string> log;

    std::map<int, int> comboSel;
    int sliderPos = 0;
    int selStart = 0, selEnd = 0;
    int selUpdates = 0;
    std::string text;
    int editSelStart = 0, editSelEnd = 0;
    std::map<int, int> progress;
    std::map<int, int> progressUpdates;

    int ComboGetCurSel(int id) override;
    int TrackbarGetPos(int id) override;
    void TrackbarSetPos(int id, int pos, bool redraw) override;
    void TrackbarSetSel(int id, int start, int end, bool redraw) override;
    std::string GetText(int id, size_t maxChars) override;
    void SetText(int id, const std::string& t) override;
    void EditGetSel(int id, int* start, int* end) override;
    void EditSetSel(int id, int start, int end) override;
    void EditScrollCaret(int id) override;
    void ProgressSetPos(int id, int pos) override;

private:
    void Log(std::string entry);
};

}  // namespace morvane::sim
