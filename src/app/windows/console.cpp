#include "app/windows/console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "ui/win32/win32_api.h"

namespace morvane {
namespace {

bool Usable(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void OpenConsoleOutput() {
    const bool out = Usable(STD_OUTPUT_HANDLE);
    const bool err = Usable(STD_ERROR_HANDLE);
    // Lines end in \n alone, as the Linux program's do, for whatever reads
    // the pipe or file.
    if (out) _setmode(_fileno(stdout), _O_BINARY);
    if (err) _setmode(_fileno(stderr), _O_BINARY);
    if (out && err) return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!out && std::freopen("CONOUT$", "w", stdout) == nullptr) return;
    if (!err) (void)std::freopen("CONOUT$", "w", stderr);
}

}  // namespace morvane
