#include "ui/qt/main_dlg_template.h"

#include "resource.h"

namespace morvane {
namespace {

using enum ControlKind;

constexpr ControlTemplate kControls[] = {
    {IDC_PLAY, PushLikeRadio, "Play", 13, 179, 41, 25},
    {IDC_STOP, PushLikeRadio, "Stop", 59, 179, 41, 25},
    {-1, GroupFrame, "Control", 7, 168, 101, 42},
    {-1, GroupFrame, "Delay in seconds", 7, 66, 350, 39},
    {IDC_INPUT_DEVICE, DropDownList, "", 13, 14, 336, 65},
    {IDC_DELAY_SLIDER, DelaySlider, "", 9, 79, 315, 22},
    {IDC_DELAY_EDIT, Edit, "", 323, 81, 29, 12},
    {ID_APP_ABOUT, PushButton, "&About...", 301, 175, 48, 12},
    {IDC_MIXER, PushButton, "Mixer", 245, 194, 48, 12},
    {IDCANCEL, PushButton, "Exit", 301, 194, 48, 12},
    {IDC_INPUT_LEFT, LevelMeter, "", 37, 35, 312, 10},
    {IDC_INPUT_RIGHT, LevelMeter, "", 37, 46, 312, 10},
    {IDC_OUTPUT_LEFT, LevelMeter, "", 37, 135, 312, 10},
    {IDC_OUTPUT_RIGHT, LevelMeter, "", 37, 146, 312, 10},
    {-1, GroupFrame, "Output", 7, 105, 350, 56},
    {-1, GroupFrame, "Input Device", 7, 4, 350, 58},
    {IDC_TUNER, PushButton, "Tuner", 245, 175, 48, 12},
    {-1, Label, "Left:", 20, 36, 15, 8},
    {-1, Label, "Right:", 15, 46, 20, 8},
    {-1, Label, "Left:", 20, 136, 15, 8},
    {-1, Label, "Right:", 15, 146, 20, 8},
    {IDC_OUTPUT_DEVICE, DropDownList, "", 13, 116, 336, 65},
};

constexpr DialogTemplate kMainDialog{"Morvane", 364, 215, kControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMainDialog; }

}  // namespace morvane
