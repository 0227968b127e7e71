#include "app/app_run.h"

#include "app/options.h"
#include "resource.h"
#include "ui/main_dlg.h"

namespace morvane {

bool StartMainWindow(IDialogHost& host, CMainDlg& dialog, bool playAtOnce) {
    if (!host.CreateDialog(dialog)) return false;
    host.ShowWindow();
    if (playAtOnce || GetOptionValue("-play") != nullptr) {
        // Before the loop: the window is first painted with the line running.
        dialog.Play();
        host.ButtonSetCheck(IDC_PLAY, true);
        host.ButtonSetCheck(IDC_STOP, false);
    }
    return true;
}

int RunMainWindow(IDialogHost& host, CMainDlg& dialog, bool playAtOnce) {
    if (!StartMainWindow(host, dialog, playAtOnce)) return 0;
    return host.RunMessageLoop();
}

}  // namespace morvane
