#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app_run.h"
#include "app/options.h"
#include "resource.h"
#include "support/recording_host.h"
#include "support/sim_wave_api.h"
#include "ui/main_dlg.h"

using namespace morvane;
using namespace morvane::sim;

namespace {
// One process start: the arguments, two devices of each kind, the window.
struct Start {
    std::vector<std::string> words;
    std::vector<const char*> argv;
    CSimWaveApi sim;
    CRecordingHost host;
    CountingTuner tuner;
    std::unique_ptr<CMainDlg> dlg;

    explicit Start(std::vector<std::string> args, int inputs = 2, int outputs = 2) : words(std::move(args)) {
        words.insert(words.begin(), "morvane");
        for (const auto& w : words) argv.push_back(w.c_str());
        SetProcessArguments(static_cast<int>(argv.size()), argv.data());
        for (int i = 0; i < inputs; ++i) sim.AddCaptureDevice("Capture " + std::to_string(i));
        for (int i = 0; i < outputs; ++i) sim.AddPlaybackDevice("Playback " + std::to_string(i));
        dlg = std::make_unique<CMainDlg>(sim, host, tuner);
    }
    ~Start() {
        dlg.reset();
        SetProcessArguments(0, nullptr);
    }
    int Run() { return RunMainWindow(host, *dlg); }
    CDelayEngine& engine() { return dlg->Engine(); }
};
}  // namespace

TEST(MainWindow, StartWithoutOptions) {
    Start s({});
    EXPECT_EQ(s.Run(), -1);  // the loop ran without anyone quitting
    auto& h = s.host;
    EXPECT_TRUE(h.centred);
    EXPECT_TRUE(h.shown);
    EXPECT_EQ(h.windowIcon, IDR_MAINFRAME);
    EXPECT_EQ(h.comboItems[IDC_INPUT_DEVICE], (std::vector<std::string>{"Capture 0", "Capture 1"}));
    EXPECT_EQ(h.comboItems[IDC_OUTPUT_DEVICE], (std::vector<std::string>{"Playback 0", "Playback 1"}));
    EXPECT_EQ(h.comboSel[IDC_INPUT_DEVICE], 0);
    EXPECT_EQ(h.comboSel[IDC_OUTPUT_DEVICE], 0);
    EXPECT_EQ(h.text, "1.0");
    EXPECT_EQ(h.sliderPos, 10);
    EXPECT_EQ(h.ranges[IDC_DELAY_SLIDER], std::make_pair(1, 299));
    EXPECT_EQ(h.editLimit, 4);
    for (int meter : {IDC_INPUT_LEFT, IDC_INPUT_RIGHT, IDC_OUTPUT_LEFT, IDC_OUTPUT_RIGHT}) {
        EXPECT_EQ(h.ranges[meter], std::make_pair(0, 32767));
        EXPECT_EQ(h.progress.count(meter), 0u);
    }
    EXPECT_EQ(h.icons[IDC_PLAY], IDI_PLAY);
    EXPECT_EQ(h.icons[IDC_STOP], IDI_STOP);
    EXPECT_TRUE(h.checks[IDC_STOP]);
    EXPECT_EQ(h.checks.count(IDC_PLAY), 0u);
    EXPECT_EQ(s.engine().DelayCount(), 10u);
    EXPECT_FALSE(s.engine().IsPlaying());
    EXPECT_EQ(s.dlg->Recorder().Format().nAvgBytesPerSec, 176400u);
    EXPECT_EQ(s.dlg->Player().Format().nBlockAlign, 4);
    EXPECT_EQ(s.tuner.graphs, 0);
}

TEST(MainWindow, DeviceOptions) {
    struct Case {
        std::vector<std::string> args;
        int input, output;
    } cases[] = {
        {{"-in", "1"}, 1, 0},       {{"-in"}, 1, 0},          {{"-in", "-out", "1"}, 1, 1},
        {{"-in", "1", "-in", "0"}, 1, 0}, {{"-IN", "1"}, 0, 0}, {{"/in", "1"}, 0, 0},
        {{"-in", "1x"}, 1, 0},      {{"-in", "x"}, 0, 0},     {{"-out", "5"}, 0, -1},
        {{"-in", " -1"}, -1, 0},
    };
    for (const auto& c : cases) {
        Start s(c.args);
        s.Run();
        const std::string label = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(s.engine().InputDevice(), c.input) << label;
        EXPECT_EQ(s.engine().OutputDevice(), c.output) << label;
        EXPECT_EQ(s.host.comboSel[IDC_INPUT_DEVICE], c.input) << label;
    }

    // Play opens the chosen devices; -1 asks for the system's choice.
    Start s({"-in", "1", "-out", "5"});
    s.Run();
    s.host.Command(IDC_PLAY);
    EXPECT_EQ(s.dlg->Recorder().DeviceId(), 1u);
    EXPECT_EQ(s.dlg->Player().DeviceId(), WAVE_MAPPER);
    EXPECT_TRUE(s.dlg->Player().IsOpen());

    Start none({}, 0, 0);
    none.Run();
    EXPECT_TRUE(none.host.comboItems[IDC_INPUT_DEVICE].empty());
    EXPECT_EQ(none.engine().InputDevice(), -1);
    EXPECT_EQ(none.engine().OutputDevice(), -1);
}

TEST(MainWindow, AnIndexBeyondTheListSaysWhichDevicePlays) {
    struct Case {
        std::vector<std::string> args;
        int devices;
        std::string said;
    } cases[] = {
        {{"-in", "42"}, 2,
         "morvane: there is no input device 42 (see --list-devices); the default input device plays: Capture 0\n"},
        {{"-out", "2", "-in", "1"}, 2,
         "morvane: there is no output device 2 (see --list-devices); the default output device plays: Playback 0\n"},
        {{"-in", " -1"}, 0, "morvane: there is no input device -1 (see --list-devices); the default input device plays\n"},
        {{"-in", "1", "-out", "0"}, 2, ""},
        {{}, 0, ""},  // nothing asked for: nothing to say
    };
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        {
            Start s(c.args, c.devices, c.devices);
            s.Run();
        }
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.said);
    }
}

TEST(MainWindow, DelayOption) {
    struct Case {
        std::vector<std::string> args;
        uint32_t count;
        std::string shown;
        int slider;
    } cases[] = {
        {{"-delay", ".5"}, 30, "0.5", 0},      // already canonical: nothing moves
        {{"-delay", "2.3"}, 23, "2.3", 23},    {{"-delay", "29.9"}, 299, "29.9", 299},
        {{"-delay", "0"}, 1, "0.1", 1},        {{"-delay", "abc"}, 1, "0.1", 1},
        {{"-delay"}, 10, "1.0", 10},           {{"-delay", "-play"}, 10, "1.0", 10},
        {{"-delay", "45"}, 45, "4.5", 45},     {{"-delay", "300"}, 299, "29.9", 299},
    };
    for (const auto& c : cases) {
        Start s(c.args);
        s.Run();
        EXPECT_EQ(s.engine().DelayCount(), c.count) << c.args.back();
        EXPECT_EQ(s.host.text, c.shown) << c.args.back();
        EXPECT_EQ(s.host.sliderPos, c.slider) << c.args.back();
    }
}

TEST(MainWindow, PlayOption) {
    for (const auto& args : {std::vector<std::string>{"-play"}, {"-play", "0"}, {"-delay", "-play"}}) {
        Start s(args);
        bool playingInLoop = false;
        s.host.loop = [&] { playingInLoop = s.engine().IsPlaying(); };
        s.Run();
        EXPECT_TRUE(playingInLoop) << args.back();
        EXPECT_TRUE(s.host.checks[IDC_PLAY]);
        EXPECT_FALSE(s.host.checks[IDC_STOP]);
        EXPECT_EQ(s.engine().OutstandingCaptures(), 11u);
        EXPECT_EQ(s.tuner.graphs, 1);
    }
    Start notPlay({"-play2", "-Play"});
    notPlay.Run();
    EXPECT_FALSE(notPlay.engine().IsPlaying());
}

TEST(MainWindow, ExitClosesTheDevicesAndQuitsWithTwo) {
    Start s({"-play"});
    s.host.loop = [&] {
        RunUntil(s.sim, s.host.window, 20 * 4410);
        s.host.Command(IDCANCEL);
    };
    EXPECT_EQ(s.Run(), 2);
    EXPECT_TRUE(s.host.destroyed);
    s.dlg.reset();
    EXPECT_EQ(s.tuner.releases, 1);
    EXPECT_EQ(s.sim.OpenStreams(), 0u);  // nothing left running at the end

    Start fails({});
    fails.host.createFails = true;
    EXPECT_EQ(fails.Run(), 0);
    EXPECT_FALSE(fails.host.shown);
}

TEST(MainWindow, MessageMapResults) {
    Start s({});
    s.Run();
    bool handled = false;
    EXPECT_EQ(s.dlg->HandleMessage(0x0200, 0, 0, &handled), 0);  // not ours
    EXPECT_FALSE(handled);
    EXPECT_EQ(s.dlg->HandleMessage(WM_HSCROLL, TB_LINEDOWN, 0, &handled), 1);
    EXPECT_TRUE(handled);
    EXPECT_EQ(s.dlg->HandleMessage(MM_WIM_DATA, 0, 0, &handled), 1);
    EXPECT_EQ(s.dlg->HandleMessage(MM_WOM_DONE, 0, 0, &handled), 1);
    EXPECT_EQ(s.dlg->HandleMessage(WM_COMMAND, MakeCommand(IDC_PLAY, BN_CLICKED), 0, &handled), 0);
    EXPECT_TRUE(s.engine().IsPlaying());

    // The box's change notification alone does nothing.
    s.host.text = "7";
    s.host.Command(IDC_DELAY_EDIT, EN_CHANGE);
    EXPECT_EQ(s.engine().DelayCount(), 10u);
    s.host.Command(IDC_DELAY_EDIT, EN_UPDATE);
    EXPECT_EQ(s.engine().DelayCount(), 70u);
    EXPECT_EQ(s.host.text, "7.0");

    s.host.Command(ID_APP_ABOUT);
    EXPECT_EQ(s.host.aboutBoxes, 1);
}

TEST(MainWindow, MixerFallsBackOnlyWhenTheFirstProgramIsMissing) {
    const MixerPrograms mixer = PlatformMixerPrograms();
    const auto launch = [&](const char* file) {
        return std::string(file) + (mixer.parameters[0] ? std::string(" ") + mixer.parameters : "");
    };
    struct Case {
        std::vector<intptr_t> results;
        size_t launches;
    } cases[] = {{{42}, 1}, {{2, 42}, 2}, {{2, 2}, 2}, {{5}, 1}, {{3}, 1}};
    for (const auto& c : cases) {
        Start s({});
        s.Run();
        s.host.launchResults = c.results;
        s.host.Command(IDC_MIXER);
        ASSERT_EQ(s.host.launched.size(), c.launches);
        EXPECT_EQ(s.host.launched[0], launch(mixer.first));
        if (c.launches == 2) {
            EXPECT_EQ(s.host.launched[1], launch(mixer.fallback));
        }
        EXPECT_TRUE(s.host.messageBoxes.empty());
    }
}

TEST(MainWindow, TunerButton) {
    Start s({});
    s.Run();
    s.host.Command(IDC_TUNER);
    ASSERT_EQ(s.host.messageBoxes.size(), 1u);
    EXPECT_EQ(s.host.messageBoxes[0], std::make_pair(std::string("Sorry, no tuner found"), std::string("Error")));
    s.tuner.tuners = 1;
    s.host.Command(IDC_TUNER);
    EXPECT_EQ(s.host.messageBoxes.size(), 1u);
    EXPECT_EQ(s.tuner.pages, 2);
    EXPECT_EQ(s.tuner.graphs, 0);  // the tuner works without Play
    s.host.Command(IDC_PLAY);
    s.host.Command(IDC_STOP);
    s.host.Command(IDC_PLAY);
    EXPECT_EQ(s.tuner.graphs, 1);
}
