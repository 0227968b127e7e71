#pragma once
// Routing a capture card's tuner sound to its audio output on the card's
// crossbars.

#include "ui/win32/win32_api.h"

#include <dshow.h>

namespace morvane {

// Routes on the crossbar next to `device` and, only if that fails, on the
// crossbar upstream of that one. Returns the last routing's result or the
// failure of the search for a crossbar.
HRESULT RouteCrossbarAudio(ICaptureGraphBuilder2* builder, IBaseFilter* device);

// Routes the crossbar's audio tuner input to its first audio decoder output:
// the result of the routing, or E_FAIL.
HRESULT RouteTunerToDecoder(IAMCrossbar* crossbar);

// The first input pin of `physicalType`: S_OK with its index, the failure
// of get_PinCounts, or E_FAIL.
HRESULT FindCrossbarPin(IAMCrossbar* crossbar, LONG physicalType, LONG* pinIndex);

}  // namespace morvane
