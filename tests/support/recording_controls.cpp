#include "recording_controls.h"

namespace morvane::sim {

void CRecordingControls::Log(std::string entry) {
    if (logCalls) log.push_back(std::move(entry));
}

int CRecordingControls::ComboGetCurSel(int id) {
    Log("ComboGetCurSel " + std::to_string(id));
    auto it = comboSel.find(id);
    return it == comboSel.end() ? -1 : it->second;
}

int CRecordingControls::TrackbarGetPos(int id) {
    Log("TrackbarGetPos " + std::to_string(id));
    return sliderPos;
}

void CRecordingControls::TrackbarSetPos(int id, int pos, bool) {
    Log("TrackbarSetPos " + std::to_string(id) + " " + std::to_string(pos));
    sliderPos = pos;
}

void CRecordingControls::TrackbarSetSel(int id, int start, int end, bool) {
    Log("TrackbarSetSel " + std::to_string(id) + " " + std::to_string(start) + ".." +
        std::to_string(end));
    selStart = start;
    selEnd = end;
    ++selUpdates;
}

std::string CRecordingControls::GetText(int id, size_t maxChars) {
    Log("GetText " + std::to_string(id));
    return text.substr(0, maxChars);
}

void CRecordingControls::SetText(int id, const std::string& t) {
    Log("SetText " + std::to_string(id) + " " + t);
    text = t;
    if (onTextSet) onTextSet();
}

void CRecordingControls::EditGetSel(int id, int* start, int* end) {
    Log("EditGetSel " + std::to_string(id));
    *start = editSelStart;
    *end = editSelEnd;
}

void CRecordingControls::EditSetSel(int id, int start, int end) {
    Log("EditSetSel " + std::to_string(id) + " " + std::to_string(start) + "," + std::to_string(end));
    editSelStart = start;
    editSelEnd = end;
}

void CRecordingControls::EditScrollCaret(int id) { Log("EditScrollCaret " + std::to_string(id)); }

void CRecordingControls::ProgressSetPos(int id, int pos) {
    Log("ProgressSetPos " + std::to_string(id) + " " + std::to_string(pos));
    progress[id] = pos;
    ++progressUpdates[id];
}

}  // namespace morvane::sim
