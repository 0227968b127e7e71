// The Windows program's entry: the command-line answers, or the main window
// and its message loop.

#include "ui/win32/win32_api.h"

#include <cstdio>
#include <cstdlib>

#include "app/app_run.h"
#include "app/device_list.h"
#include "app/options.h"
#include "app/usage.h"
#include "app/windows/app_module.h"
#include "app/windows/console.h"
#include "app/windows/message_loop.h"
#include "audio/winmm/winmm_wave_api.h"
#include "tuner/dshow/dshow_tuner.h"
#include "ui/main_dlg.h"
#include "ui/win32/win32_dialog_host.h"

namespace morvane {
namespace {

// The answers that need no window; -1 when the window is wanted.
int AnswerCommandLine() {
    const bool help = GetOptionValue("--help") != nullptr || GetOptionValue("-h") != nullptr;
    const bool version = GetOptionValue("--version") != nullptr;
    const bool list = GetOptionValue("--list-devices") != nullptr;
    if (!help && !version && !list) return -1;
    OpenConsoleOutput();
    int code = 0;
    if (help) {
        PrintUsage(false);
    } else if (version) {
        std::printf("morvane %s\n", MORVANE_VERSION);
    } else {
        CWinmmWaveApi wave;
        code = ListDevices(wave);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return code;
}

// The run step: the loop is in the module's map before the window exists,
// so that the window can register with it while it initialises.
int Run(CWin32DialogHost& host, CMainDlg& dialog) {
    CMessageLoop loop;
    AppModule().AddMessageLoop(&loop);
    const int code = RunMainWindow(host, dialog);
    AppModule().RemoveMessageLoop();
    return code;
}

}  // namespace
}  // namespace morvane

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    using namespace morvane;
    // The process's 8-bit arguments, split as the C runtime splits them.
    SetProcessArguments(__argc, __argv);
    if (const int code = AnswerCommandLine(); code >= 0) return code;

    // The tuner's graph and pages need a single-threaded apartment.
    ::CoInitialize(nullptr);
    ::DefWindowProcA(nullptr, 0, 0, 0);
    // The trackbar, and the progress bars of the meters.
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&classes);
    AppModule().Init(instance);

    int code = 0;
    {
        CWinmmWaveApi wave;
        CWin32DialogHost host(showCommand);
        CDShowTuner tuner([&host] { return host.Hwnd(); });
        CMainDlg dialog(wave, host, tuner);
        code = Run(host, dialog);
        AppModule().Term();
        // The dialog goes here, while COM is still up: the tuner first,
        // then the player and the recorder.
    }
    ::CoUninitialize();
    return code;
}
