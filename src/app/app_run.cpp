#include "app/app_run.h"

#include "app/options.h"
#include "resource.h"
#include "ui/main_dlg.h"

namespace morvane {

int RunMainWindow(IDialogHost& host, CMainDlg& dialog, bool playAtOnce) {
    if (!host.CreateDialog(dialog)) return 0;
    host.ShowWindow();
    if (playAtOnce || GetOptionValue("-play") != nullptr) {
        // Before the loop: the window is first painted with the line running.
        dialog.Play();
        host.ButtonSetCheck(IDC_PLAY, true);
        host.ButtonSetCheck(IDC_STOP, false);
    }
    return host.RunMessageLoop();
}

}  // namespace morvane
