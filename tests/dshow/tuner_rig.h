#pragma once
// The main window's logic with the DirectShow tuner on fake devices, the
// simulated wave devices and a recording dialog host.

#include "fake_dshow.h"

#include <memory>

#include "app/app_run.h"
#include "app/options.h"
#include "resource.h"
#include "support/recording_host.h"
#include "support/sim_wave_api.h"
#include "tuner/dshow/dshow_tuner.h"
#include "ui/main_dlg.h"

namespace morvane {

struct CTunerRig {
    CTunerRig() {
        static const char* const argv[] = {"morvane"};
        SetProcessArguments(1, argv);
        wave.AddCaptureDevice("In");
        wave.AddPlaybackDevice("Out");
        dialog = std::make_unique<CMainDlg>(wave, host, tuner);
        StartMainWindow(host, *dialog);
    }
    ~CTunerRig() {
        dialog.reset();
        SetProcessArguments(0, nullptr);
    }
    void Click(int id) { host.Command(id); }
    CDelayEngine& Engine() { return dialog->Engine(); }

    fake::CFakeSystem system;
    CDShowTuner tuner{[] { return fake::CFakeSystem::Owner(); }, system.EntryPoints()};
    sim::CSimWaveApi wave;
    sim::CRecordingHost host;
    std::unique_ptr<CMainDlg> dialog;
};

using Entries = std::vector<std::string>;

}  // namespace morvane
