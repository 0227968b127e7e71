#pragma once

namespace morvane {

class IWaveApi;
class ITuner;

// Runs the delay line without a window until SIGINT, SIGTERM or "quit".
int RunHeadless(IWaveApi& wave, ITuner& tuner);

}  // namespace morvane
