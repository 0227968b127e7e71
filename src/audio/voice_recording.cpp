#include "audio/voice_recording.h"

namespace morvane {

CVoiceRecording::~CVoiceRecording() {
    if (m_hWaveIn == nullptr) return;
    // Blocks are freed next: the device must not hold any of them then.
    Check(m_api.waveInReset(m_hWaveIn));
    CloseDevice(&m_hWaveIn, &IWaveApi::waveInClose);
}

int CVoiceRecording::Open(IWaveWindow* window, uint32_t deviceId) {
    return OpenDevice(&m_hWaveIn, &m_deviceId, &IWaveApi::waveInOpen, window, deviceId);
}

int CVoiceRecording::Close() { return CloseDevice(&m_hWaveIn, &IWaveApi::waveInClose); }

int CVoiceRecording::PrepareBuffer(uint32_t index, float seconds) {
    return PrepareDevice(m_hWaveIn, &IWaveApi::waveInPrepareHeader, index, seconds);
}

int CVoiceRecording::UnprepareBuffer(uint32_t index) {
    return UnprepareDevice(m_hWaveIn, &IWaveApi::waveInUnprepareHeader, index);
}

int CVoiceRecording::AddBuffer(uint32_t index) {
    if (m_hWaveIn == nullptr) return 0;
    if (!HeaderCall(m_hWaveIn, &IWaveApi::waveInAddBuffer, index)) return 0;
    return Check(m_api.waveInStart(m_hWaveIn));
}

int CVoiceRecording::Reset() { return Check(m_api.waveInReset(m_hWaveIn)); }

int CVoiceRecording::Stop() { return Check(m_api.waveInStop(m_hWaveIn)); }

}  // namespace morvane
