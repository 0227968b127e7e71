#include "ui/qt/main_dlg_template.h"

#include "resource.h"

namespace morvane {
namespace {

using enum ControlKind;

// Both tables come from the template source that the Windows resource script
// is made from too; the Qt host needs no styles or classes, only the kind.
constexpr ControlTemplate kControls[] = {
#define DIALOG_BEGIN(...)
#define DIALOG_CONTROL(id, kind, className, text, x, y, width, height, style, exStyle) \
    {id, kind, text, x, y, width, height},
#define DIALOG_END()
#include "dialogs/main_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END
};

#define DIALOG_BEGIN(id, caption, width, height, ...) \
    constexpr DialogTemplate kMainDialog{caption, width, height, kControls};
#define DIALOG_CONTROL(...)
#define DIALOG_END()
#include "dialogs/main_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMainDialog; }

}  // namespace morvane
