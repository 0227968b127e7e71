#pragma once
// The tuner side on a platform build that has no tuner support yet: no card
// is prepared and the Tuner button finds no tuner.

#include "tuner/tuner.h"

namespace morvane {

class CNoTuner : public ITuner {
public:
    void BuildTunerGraph() override {}
    int ShowTunerPages(IDialogHost&) override { return 0; }
    void ReleaseTuner() override {}
};

}  // namespace morvane
