// The Linux program's entry: the window, or the delay line without one.

#include <cstdio>
#include <cstring>

#include "app/device_list.h"
#include "app/linux/headless.h"
#include "app/options.h"
#include "audio/pulse/pulse_wave_api.h"
#include "tuner/no_tuner.h"
#ifdef MORVANE_HAVE_QT
#include "ui/qt/qt_application.h"
#endif

namespace {

void PrintUsage() {
    std::printf(
        "Usage: morvane [-in N] [-out N] [-delay S.T] [-play]\n"
        "       morvane --headless [-in N] [-out N] [-delay S.T]\n"
        "       morvane --list-devices | --help | --version\n"
        "\n"
        "Plays the sound of an input device on an output device 0.1 to 29.9 seconds later.\n"
        "\n"
        "  -in N           capture from input device N (0 = the first; see --list-devices)\n"
        "  -out N          play on output device N\n"
        "  -delay S.T      delay in seconds with one decimal, e.g. 2.5 (default 1.0)\n"
        "  -play           start at once\n"
        "  --headless      run without a window and start at once; until Ctrl+C or SIGTERM.\n"
        "                  Reads commands from a terminal or pipe, one per line:\n"
        "                  a delay such as 2.5, play, stop, quit\n"
        "  --list-devices  print the devices: in<TAB>N<TAB>name, out<TAB>N<TAB>name\n"
        "  --help          show this text\n"
        "  --version       show the version\n");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace morvane;
    SetProcessArguments(argc, argv);
    if (GetOptionValue("--help") != nullptr || GetOptionValue("-h") != nullptr) {
        PrintUsage();
        return 0;
    }
    if (GetOptionValue("--version") != nullptr) {
        std::printf("morvane %s\n", MORVANE_VERSION);
        return 0;
    }
    CPulseWaveApi wave;
    CNoTuner tuner;
    if (GetOptionValue("--list-devices") != nullptr) return ListDevices(wave);
    if (GetOptionValue("--headless") != nullptr) return RunHeadless(wave, tuner);
#ifdef MORVANE_HAVE_QT
    return RunQtMainWindow(argc, argv, wave, tuner);
#else
    std::fprintf(stderr, "morvane: built without a window; use --headless\n");
    return 1;
#endif
}
