#pragma once
// The main window's template: its caption and size, and every control with
// its id, kind, caption and place, in dialog units. Template order is also
// the tab order and the stacking order (first on top).

#include <span>

namespace morvane {

enum class ControlKind {
    PushLikeRadio,  // checkable push button of an exclusive pair, icon only, no tab stop
    GroupFrame,     // captioned frame, takes neither focus nor clicks
    DropDownList,   // pick-only list; its height includes the dropped-down part
    DelaySlider,    // horizontal slider with a tick at every position and a selection band
    Edit,           // single-line edit box with a border
    PushButton,
    LevelMeter,     // smooth progress bar without text
    Label,          // left-aligned static text
};

struct ControlTemplate {
    int id;  // -1: no id of its own
    ControlKind kind;
    const char* caption;
    int x, y, width, height;
};

struct DialogTemplate {
    const char* caption;
    int width, height;
    std::span<const ControlTemplate> controls;
};

const DialogTemplate& MainDialogTemplate();

}  // namespace morvane
