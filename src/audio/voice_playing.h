#pragma once
// One playback device with its buffer table.

#include "audio/voice_base.h"

namespace morvane {

class CVoicePlaying : public CVoiceBase {
public:
    explicit CVoicePlaying(IWaveApi& api) : CVoiceBase(api) {}
    ~CVoicePlaying() override;

    int Open(IWaveWindow* window, uint32_t deviceId);
    int Close();
    int PrepareBuffer(uint32_t index, float seconds);
    int UnprepareBuffer(uint32_t index);
    int Write(uint32_t index);
    int Reset();
    bool IsOpen() const { return m_hWaveOut != nullptr; }
    uint32_t DeviceId() const { return m_deviceId; }
    HWAVEOUT Handle() const { return m_hWaveOut; }

private:
    HWAVEOUT m_hWaveOut = nullptr;
    uint32_t m_deviceId = 0;
};

}  // namespace morvane
