#include "audio/wave_api.h"

#include <algorithm>
#include <cstring>

namespace morvane {

const char* WaveResultText(MMRESULT code) {
    switch (code) {
        case MMSYSERR_NOERROR: return "No error.";
        case MMSYSERR_ERROR: return "Unspecified sound device error.";
        case MMSYSERR_BADDEVICEID: return "There is no sound device with this number.";
        case MMSYSERR_NOTENABLED: return "The sound device is not enabled.";
        case MMSYSERR_ALLOCATED: return "The sound device is in use.";
        case MMSYSERR_INVALHANDLE: return "The sound device is not open.";
        case MMSYSERR_NODRIVER: return "No sound system is available.";
        case MMSYSERR_NOMEM: return "Not enough memory for the sound buffers.";
        case MMSYSERR_NOTSUPPORTED: return "The sound device does not support this.";
        case MMSYSERR_INVALFLAG: return "Invalid flag for a sound device.";
        case MMSYSERR_INVALPARAM: return "Invalid parameter for a sound device.";
        case WAVERR_BADFORMAT: return "The sound device does not support this audio format.";
        case WAVERR_STILLPLAYING: return "Buffers are still queued on the sound device.";
        case WAVERR_UNPREPARED: return "The sound buffer has not been prepared.";
        default: return "Unknown sound device error.";
    }
}

MMRESULT CopyWaveResultText(MMRESULT code, char* text, uint32_t cchText) {
    if (text == nullptr || cchText == 0) return MMSYSERR_INVALPARAM;
    const char* s = WaveResultText(code);
    const size_t n = std::min<size_t>(std::strlen(s), cchText - 1);
    std::memcpy(text, s, n);
    text[n] = '\0';
    return MMSYSERR_NOERROR;
}

}  // namespace morvane
