// The window's start-up options over a real sound server: the lists hold the
// server's devices, and -in, -out, -delay and -play pick and start them.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <string>
#include <vector>

#include "app/app_run.h"
#include "app/options.h"
#include "audio/pulse/pulse_wave_api.h"
#include "private_server.h"
#include "resource.h"
#include "tuner/no_tuner.h"
#include "ui/main_dlg.h"
#include "ui/qt/qt_dialog_host.h"

namespace morvane {
namespace {

struct Started {
    std::vector<std::string> words;
    std::vector<const char*> argv;
    CPulseWaveApi wave;
    CNoTuner tuner;
    CQtDialogHost host;
    CMainDlg dialog{wave, host, tuner};

    explicit Started(std::vector<std::string> args)
        : words(std::move(args)), wave(pulsetest::SharedServer().Address()) {
        words.insert(words.begin(), "morvane");
        for (const auto& w : words) argv.push_back(w.c_str());
        SetProcessArguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_TRUE(StartMainWindow(host, dialog));
    }
    ~Started() {
        dialog.Engine().Stop();
        SetProcessArguments(0, nullptr);
    }
    QComboBox* List(int id) { return static_cast<QComboBox*>(host.Control(id)); }
    QString Shown(int id) { return List(id)->currentIndex() < 0 ? QString() : List(id)->currentText(); }
    QString Box() { return static_cast<QLineEdit*>(host.Control(IDC_DELAY_EDIT))->text(); }
    int Slider() { return static_cast<QSlider*>(host.Control(IDC_DELAY_SLIDER))->value(); }
    bool Checked(int id) { return static_cast<QAbstractButton*>(host.Control(id))->isChecked(); }
};

class ServerOptions : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pulsetest::SharedServer(); }  // started once, here
};

TEST_F(ServerOptions, NoOptionsPickTheFirstDevices) {
    Started s({});
    ASSERT_GE(s.List(IDC_INPUT_DEVICE)->count(), 2);
    ASSERT_GE(s.List(IDC_OUTPUT_DEVICE)->count(), 2);
    EXPECT_EQ(s.List(IDC_INPUT_DEVICE)->currentIndex(), 0);
    EXPECT_EQ(s.List(IDC_OUTPUT_DEVICE)->currentIndex(), 0);
    EXPECT_EQ(s.Shown(IDC_INPUT_DEVICE), "Monitor of Bus");
    EXPECT_EQ(s.Box(), "1.0");
    EXPECT_EQ(s.Slider(), 10);
    EXPECT_TRUE(s.Checked(IDC_STOP));
    EXPECT_FALSE(s.dialog.Engine().IsPlaying());
}

TEST_F(ServerOptions, InOutDelayAndPlayStartTheChosenDevices) {
    Started s({"-in", "1", "-out", "2", "-delay", "0.3", "-play"});
    EXPECT_EQ(s.Shown(IDC_INPUT_DEVICE), "Monitor of Radio");
    EXPECT_EQ(s.Shown(IDC_OUTPUT_DEVICE), "TV");
    EXPECT_EQ(s.Box(), "0.3");
    EXPECT_EQ(s.Slider(), 3);
    EXPECT_TRUE(s.Checked(IDC_PLAY));
    EXPECT_FALSE(s.Checked(IDC_STOP));
    EXPECT_TRUE(s.dialog.Recorder().IsOpen());
    EXPECT_TRUE(s.dialog.Player().IsOpen());
    // Real capture buffers arrive through the window: the line fills.
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.dialog.Engine().ReceivedCount() > 3; }, 5000));
}

TEST_F(ServerOptions, AnIndexBeyondTheListSelectsNothingAndPlaysTheDefault) {
    Started s({"-out", "9", "-in", "x", "-delay", ".5"});
    EXPECT_EQ(s.List(IDC_OUTPUT_DEVICE)->currentIndex(), -1);
    EXPECT_EQ(s.dialog.Engine().OutputDevice(), -1);
    EXPECT_EQ(s.List(IDC_INPUT_DEVICE)->currentIndex(), 0);
    EXPECT_EQ(s.Box(), "0.5");
    EXPECT_EQ(s.dialog.Engine().DelayCount(), 30u);
    s.dialog.Play();
    EXPECT_EQ(s.dialog.Player().DeviceId(), WAVE_MAPPER);
    EXPECT_TRUE(s.dialog.Player().IsOpen());  // the server's default output
}

}  // namespace
}  // namespace morvane
