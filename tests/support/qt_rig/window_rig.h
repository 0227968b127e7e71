#pragma once
// The real main window (Qt host and the portable window logic) over the
// wave simulator, with a log of every message the window logic receives.

#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/sim_wave_api.h"
#include "tuner/tuner.h"
#include "ui/main_dlg.h"
#include "ui/qt/qt_dialog_host.h"

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace morvane {
class CQtDelaySlider;
}

namespace morvane::qttest {

inline constexpr uint64_t kBufferFrames = 4410;  // 100 ms

// A machine without tuner cards.
class CNoTuner final : public ITuner {
public:
    void BuildTunerGraph() override {}
    int ShowTunerPages(IDialogHost&) override {
        ++pagesAsked;
        return 0;
    }
    void ReleaseTuner() override {}
    int pagesAsked = 0;
};

struct LoggedMessage {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
};

// Passes every message on to `target` (if any) and keeps a copy.
class CMessageLog final : public IDialogHandler {
public:
    explicit CMessageLog(IDialogHandler* target = nullptr) : m_target(target) {}
    intptr_t HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool* handled) override;

    std::vector<LoggedMessage> messages;
    // The scroll codes of the WM_HSCROLL messages, in order.
    std::vector<uint32_t> ScrollCodes() const;
    // The notification codes of the WM_COMMANDs from control `id`.
    std::vector<uint32_t> Commands(int id) const;
    void Clear() { messages.clear(); }

private:
    IDialogHandler* m_target;
};

// A signal of constant samples: `left` on the left channel, `right` on the right.
sim::SignalFn ConstantSignal(int16_t left, int16_t right);

class CWindowRig {
public:
    // `args` follow the program name; `inputs` capture devices with the
    // given signals and `outputs` playback devices are installed.
    explicit CWindowRig(std::vector<std::string> args = {},
                        std::vector<sim::SignalFn> inputs = {sim::NoiseSignal}, int outputs = 1);
    ~CWindowRig();
    CWindowRig(const CWindowRig&) = delete;
    CWindowRig& operator=(const CWindowRig&) = delete;

    // What the run step does before its loop, with the message log
    // between the window and its logic.
    void Open();
    // Runs the message loop (or the whole run step) with `inside` called
    // from within it; returns the loop's result. A guard ends a loop that
    // fails to end by itself, with -1.
    int RunLoop(const std::function<void()>& inside, bool wholeRunStep = false);
    // Runs the simulator's clock on by `frames`, letting the Qt event loop
    // deliver every notification as it comes.
    void RunFor(uint64_t frames);

    QWidget* Window() const { return host.Window(); }
    QComboBox* InputList() const;
    QComboBox* OutputList() const;
    CQtDelaySlider* Slider() const;
    QLineEdit* DelayBox() const;
    QProgressBar* Meter(int id) const;
    QPushButton* Button(int id) const;
    // How many times the delay line was restarted (or stopped) since the
    // call log was last cleared: each resets the capture device.
    int CaptureResets() const;
    // The centre of the slider's thumb, in slider coordinates.
    QPoint ThumbCentre() const;

    sim::CSimWaveApi sim;
    CNoTuner tuner;
    CQtDialogHost host;
    CMainDlg dialog{sim, host, tuner};
    CMessageLog log{&dialog};

private:
    std::vector<std::string> m_args;
    std::vector<const char*> m_argv;
};

}  // namespace morvane::qttest
