#pragma once
// The one way the platform's headers enter the Windows layers.
//
// The portable headers name some things as the platform does: window
// messages and notification codes (constants in our namespace, which the
// platform defines as macros) and interface methods such as CreateDialog,
// MessageBox, ShellExecute and GetDlgItemText (which the platform turns into
// their A/W variants by macros). So the portable declarations come first,
// the platform's headers after them, and the A/W method-name macros are
// taken back out. A file of these layers includes this header before any
// other; the macros for messages stay and have the same values.

#include "ui/about_dlg.h"
#include "ui/dialog_host.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <olectl.h>
#include <shellapi.h>

#undef CreateDialog
#undef MessageBox
#undef ShellExecute
#undef GetDlgItemText
#undef SetDlgItemText

#include <string>
#include <string_view>

namespace morvane {

// Texts cross the seams as UTF-8; the controls take UTF-16.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// A window's text in UTF-8, whole characters below `maxChars` bytes, as a
// buffer of that size holds them with its terminator.
std::string WindowText(HWND window, std::size_t maxChars);

}  // namespace morvane
