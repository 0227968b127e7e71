#pragma once
// One capture device with its buffer table.

#include "audio/voice_base.h"

namespace morvane {

class CVoiceRecording : public CVoiceBase {
public:
    explicit CVoiceRecording(IWaveApi& api) : CVoiceBase(api) {}
    ~CVoiceRecording() override;

    int Open(IWaveWindow* window, uint32_t deviceId);
    int Close();
    int PrepareBuffer(uint32_t index, float seconds);
    int UnprepareBuffer(uint32_t index);
    // Queues the buffer and starts capture: every add restarts a stopped device.
    int AddBuffer(uint32_t index);
    int Reset();
    int Stop();
    bool IsOpen() const { return m_hWaveIn != nullptr; }
    uint32_t DeviceId() const { return m_deviceId; }
    HWAVEIN Handle() const { return m_hWaveIn; }

private:
    HWAVEIN m_hWaveIn = nullptr;
    uint32_t m_deviceId = 0;
};

}  // namespace morvane
