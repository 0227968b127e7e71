#pragma once
// The tuner card side of the program: preparing capture cards so that their
// tuner's sound reaches the audio input, and the tuner's station page.

namespace morvane {

class IDialogHost;

class ITuner {
public:
    virtual ~ITuner() = default;
    // Runs once, inside the first Play, before the audio devices open.
    virtual void BuildTunerGraph() = 0;
    // Switches the first tuner to FM radio and shows its station page, once
    // per tuner device found, modal to `owner`. Returns how many were found.
    virtual int ShowTunerPages(IDialogHost& owner) = 0;
    // Lets go of the tuner held since the first successful ShowTunerPages.
    virtual void ReleaseTuner() = 0;
};

}  // namespace morvane
