// The Linux program's entry: the window, or the delay line without one.

#include <cstdio>
#include <cstring>

#include "app/device_list.h"
#include "app/linux/headless.h"
#include "app/linux/wave_layer.h"
#include "app/options.h"
#include "app/usage.h"
#include "audio/wave_api.h"
#include "tuner/no_tuner.h"
#ifdef MORVANE_HAVE_QT
#include "ui/qt/qt_application.h"
#endif

int main(int argc, char** argv) {
    using namespace morvane;
    SetProcessArguments(argc, argv);
    if (GetOptionValue("--help") != nullptr || GetOptionValue("-h") != nullptr) {
        PrintUsage(true);
        return 0;
    }
    std::string error;
    WaveLayer layer = ChooseWaveLayer(&error);
    if (layer.wave == nullptr) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (GetOptionValue("--version") != nullptr) {
        std::printf("morvane %s (sound: %s)\n", MORVANE_VERSION, layer.name.c_str());
        return 0;
    }
    IWaveApi& wave = *layer.wave;
    CNoTuner tuner;
    if (GetOptionValue("--list-devices") != nullptr) return ListDevices(wave);
    if (GetOptionValue("--headless") != nullptr) {
        std::fprintf(stderr, "morvane: sound through %s\n", layer.name.c_str());
        return RunHeadless(wave, tuner);
    }
#ifdef MORVANE_HAVE_QT
    return RunQtMainWindow(argc, argv, wave, tuner);
#else
    std::fprintf(stderr, "morvane: built without a window; use --headless\n");
    return 1;
#endif
}
