#pragma once
// The shell's run step, the same on every platform: create the main window,
// show it, start the line at once for -play, run the loop.

namespace morvane {

class IDialogHost;
class CMainDlg;

// Returns the exit code: the quit message's, or 0 when the window could not
// be created. `playAtOnce` starts the line as -play does.
int RunMainWindow(IDialogHost& host, CMainDlg& dialog, bool playAtOnce = false);

}  // namespace morvane
