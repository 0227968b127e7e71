#pragma once
// The shell's run step, the same on every platform: create the main window,
// show it, start the line at once for -play, run the loop.

namespace morvane {

class IDialogHost;
class CMainDlg;

// Everything before the loop: create and show the window, then start the
// line for -play or `playAtOnce`. False when the window could not be made.
bool StartMainWindow(IDialogHost& host, CMainDlg& dialog, bool playAtOnce = false);

// Returns the exit code: the quit message's, or 0 when the window could not
// be created.
int RunMainWindow(IDialogHost& host, CMainDlg& dialog, bool playAtOnce = false);

}  // namespace morvane
