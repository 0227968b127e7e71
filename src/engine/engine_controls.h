#pragma once
// The controls the delay engine reads and moves, addressed by control id.
// The dialog hosts implement it on real widgets; tests record it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace morvane {

class IEngineControls {
public:
    // Device lists: the current selection, -1 when there is none.
    virtual int ComboGetCurSel(int id) = 0;

    // The slider; setting the position notifies nobody.
    virtual int TrackbarGetPos(int id) = 0;
    virtual void TrackbarSetPos(int id, int pos, bool redraw) = 0;
    virtual void TrackbarSetSel(int id, int start, int end, bool redraw) = 0;

    // The delay box. Setting its text notifies the update rule again at once,
    // as the box's own update notification does.
    virtual std::string GetText(int id, size_t maxChars) = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual void EditGetSel(int id, int* start, int* end) = 0;
    virtual void EditSetSel(int id, int start, int end) = 0;
    virtual void EditScrollCaret(int id) = 0;

    // Level meters.
    virtual void ProgressSetPos(int id, int pos) = 0;

protected:
    ~IEngineControls() = default;
};

}  // namespace morvane
