#include "audio/voice_playing.h"

namespace morvane {

CVoicePlaying::~CVoicePlaying() {
    if (m_hWaveOut == nullptr) return;
    // Blocks are freed next: the device must not hold any of them then.
    Check(m_api.waveOutReset(m_hWaveOut));
    CloseDevice(&m_hWaveOut, &IWaveApi::waveOutClose);
}

int CVoicePlaying::Open(IWaveWindow* window, uint32_t deviceId) {
    return OpenDevice(&m_hWaveOut, &m_deviceId, &IWaveApi::waveOutOpen, window, deviceId);
}

int CVoicePlaying::Close() { return CloseDevice(&m_hWaveOut, &IWaveApi::waveOutClose); }

int CVoicePlaying::PrepareBuffer(uint32_t index, float seconds) {
    return PrepareDevice(m_hWaveOut, &IWaveApi::waveOutPrepareHeader, index, seconds);
}

int CVoicePlaying::UnprepareBuffer(uint32_t index) {
    return UnprepareDevice(m_hWaveOut, &IWaveApi::waveOutUnprepareHeader, index);
}

int CVoicePlaying::Write(uint32_t index) {
    if (m_hWaveOut == nullptr) return 0;
    return HeaderCall(m_hWaveOut, &IWaveApi::waveOutWrite, index);
}

int CVoicePlaying::Reset() { return Check(m_api.waveOutReset(m_hWaveOut)); }

}  // namespace morvane
