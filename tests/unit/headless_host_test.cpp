#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_run.h"
#include "app/options.h"
#include "support/recording_host.h"
#include "support/sim_wave_api.h"
#include "ui/headless_host.h"
#include "ui/main_dlg.h"

using namespace morvane;
using namespace morvane::sim;

namespace {
// The headless program's loop over the simulator, fed `lines` as standard
// input would, ending with quit; answers what it reported.
std::string RunHeadlessWith(std::vector<std::string> args, const std::vector<std::string>& lines,
                            uint32_t* delayCount, bool* smooth) {
    args.insert(args.begin(), "morvane");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    SetProcessArguments(static_cast<int>(argv.size()), argv.data());
    std::FILE* report = std::tmpfile();
    {
        CSimWaveApi sim;
        sim.AddCaptureDevice("Capture");
        sim.AddPlaybackDevice("Playback");
        CountingTuner tuner;
        CHeadlessHost host(report, /*interactive=*/false);
        CMainDlg dlg(sim, host, tuner);
        for (const auto& line : lines) host.PostInput(line);
        host.PostInput("quit");
        EXPECT_EQ(RunMainWindow(host, dlg, /*playAtOnce=*/true), 2);
        *delayCount = dlg.Engine().DelayCount();
        *smooth = dlg.Engine().IsSmooth();
    }
    SetProcessArguments(0, nullptr);
    std::string text;
    std::rewind(report);
    for (int c; (c = std::fgetc(report)) != EOF;) text += static_cast<char>(c);
    std::fclose(report);
    return text;
}
}  // namespace

TEST(HeadlessInput, PlusAndMinusStepATenthWithinTheRange) {
    uint32_t count = 0;
    bool smooth = false;
    std::string said = RunHeadlessWith({"-delay", "3.0", "-smooth"}, {"+", " + ", "+", "-", "?"}, &count, &smooth);
    EXPECT_TRUE(smooth);
    EXPECT_EQ(count, 32u);
    EXPECT_NE(said.find("Delay 3.1 s\nDelay 3.2 s\nDelay 3.3 s\nDelay 3.2 s\n"), std::string::npos) << said;
    EXPECT_NE(said.find("+ or -"), std::string::npos) << said;

    said = RunHeadlessWith({"-delay", "29.9"}, {"+", "2.5", "-", "-"}, &count, &smooth);
    EXPECT_FALSE(smooth);
    EXPECT_EQ(count, 23u);
    EXPECT_NE(said.find("Delay 29.9 s\nDelay 2.5 s\nDelay 2.4 s\nDelay 2.3 s\n"), std::string::npos) << said;
    said = RunHeadlessWith({"-delay", "0.1"}, {"-"}, &count, &smooth);
    EXPECT_EQ(count, 1u);
}
