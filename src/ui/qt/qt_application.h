#pragma once
// The Linux program's window side: the Qt application, the main window on
// Qt widgets and the run step over them.

namespace morvane {

class IWaveApi;
class ITuner;

// Makes the QApplication unless one exists, then creates, shows and runs
// the main window; returns the exit code.
int RunQtMainWindow(int& argc, char** argv, IWaveApi& wave, ITuner& tuner);

}  // namespace morvane
