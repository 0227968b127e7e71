#pragma once
// The device listing of the command line, the same on every platform.

namespace morvane {

class IWaveApi;

// Prints "in<TAB>N<TAB>name" and "out<TAB>N<TAB>name" lines to standard
// output; a note to standard error when there are no devices at all.
int ListDevices(IWaveApi& wave);

}  // namespace morvane
