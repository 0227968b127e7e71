#pragma once
// Placing the program's windows.

#include "ui/win32/win32_api.h"

namespace morvane {

// Centres `window` over `over` when that is a visible, not minimised
// window; otherwise in the work area of the monitor `window` is on.
void CenterWindowOver(HWND window, HWND over);

// Hands a dialog procedure's message to a portable message map. Returns
// what the dialog procedure returns: the initialisation's own result
// (nonzero: the dialog manager sets the focus), TRUE for anything else the
// map took, FALSE for the dialog manager's default handling.
INT_PTR HandToMessageMap(IDialogHandler& handler, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace morvane
