#include "support/qt_rig/window_rig.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <algorithm>

#include "app/app_run.h"
#include "app/options.h"
#include "ui/qt/qt_delay_slider.h"
#include "resource.h"

namespace morvane::qttest {

intptr_t CMessageLog::HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool* handled) {
    messages.push_back({msg, wParam, lParam});
    if (m_target != nullptr) return m_target->HandleMessage(msg, wParam, lParam, handled);
    *handled = false;
    return 0;
}

std::vector<uint32_t> CMessageLog::ScrollCodes() const {
    std::vector<uint32_t> codes;
    for (const LoggedMessage& m : messages)
        if (m.msg == WM_HSCROLL) codes.push_back(static_cast<uint32_t>(m.wParam & 0xFFFFu));
    return codes;
}

std::vector<uint32_t> CMessageLog::Commands(int id) const {
    std::vector<uint32_t> codes;
    for (const LoggedMessage& m : messages)
        if (m.msg == WM_COMMAND && static_cast<int>(m.wParam & 0xFFFFu) == id)
            codes.push_back(static_cast<uint32_t>(m.wParam >> 16));
    return codes;
}

sim::SignalFn ConstantSignal(int16_t left, int16_t right) {
    return [left, right](uint64_t, uint32_t frames, uint16_t channels, int16_t* out) {
        for (uint32_t f = 0; f < frames; ++f)
            for (uint16_t c = 0; c < channels; ++c) out[f * channels + c] = c == 0 ? left : right;
    };
}

CWindowRig::CWindowRig(std::vector<std::string> args, std::vector<sim::SignalFn> inputs, int outputs)
    : m_args(std::move(args)) {
    for (size_t i = 0; i < inputs.size(); ++i) sim.AddCaptureDevice("Input " + std::to_string(i), inputs[i]);
    for (int i = 0; i < outputs; ++i) sim.AddPlaybackDevice("Output " + std::to_string(i));
    m_argv.push_back("morvane");
    for (const std::string& a : m_args) m_argv.push_back(a.c_str());
    m_argv.push_back(nullptr);
    SetProcessArguments(static_cast<int>(m_argv.size() - 1), m_argv.data());
}

CWindowRig::~CWindowRig() { SetProcessArguments(0, nullptr); }

void CWindowRig::Open() {
    host.CreateDialog(log);
    host.ShowWindow();
    // Lets the window become active, as the run step's loop would.
    QCoreApplication::processEvents();
}

int CWindowRig::RunLoop(const std::function<void()>& inside, bool wholeRunStep) {
    QTimer::singleShot(0, inside);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(10000);
    return wholeRunStep ? RunMainWindow(host, dialog) : host.RunMessageLoop();
}

void CWindowRig::RunFor(uint64_t frames) {
    const uint64_t end = sim.Now() + frames;
    QCoreApplication::processEvents();
    while (sim.Now() < end) {
        const auto next = sim.NextEventTime();
        sim.AdvanceTo(next && *next < end ? *next : end);
        QCoreApplication::processEvents();
    }
}

QComboBox* CWindowRig::InputList() const { return dynamic_cast<QComboBox*>(host.Control(IDC_INPUT_DEVICE)); }
QComboBox* CWindowRig::OutputList() const { return dynamic_cast<QComboBox*>(host.Control(IDC_OUTPUT_DEVICE)); }
CQtDelaySlider* CWindowRig::Slider() const { return dynamic_cast<CQtDelaySlider*>(host.Control(IDC_DELAY_SLIDER)); }
QLineEdit* CWindowRig::DelayBox() const { return dynamic_cast<QLineEdit*>(host.Control(IDC_DELAY_EDIT)); }
QProgressBar* CWindowRig::Meter(int id) const { return dynamic_cast<QProgressBar*>(host.Control(id)); }
QPushButton* CWindowRig::Button(int id) const { return dynamic_cast<QPushButton*>(host.Control(id)); }

int CWindowRig::CaptureResets() const {
    const auto& calls = sim.Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), std::string("waveInReset")));
}

QPoint CWindowRig::ThumbCentre() const {
    QStyleOptionSlider option;
    option.initFrom(Slider());
    option.orientation = Qt::Horizontal;
    option.minimum = Slider()->minimum();
    option.maximum = Slider()->maximum();
    option.sliderPosition = Slider()->sliderPosition();
    option.sliderValue = Slider()->value();
    option.tickPosition = Slider()->tickPosition();
    option.tickInterval = Slider()->tickInterval();
    option.subControls = QStyle::SC_All;
    return Slider()->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, Slider()).center();
}

}  // namespace morvane::qttest
