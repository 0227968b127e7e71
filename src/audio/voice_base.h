#pragma once
// The common part of the capture and playback wrappers: the audio format and
// a fixed table of buffers, each a data block with its wave header.

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "audio/wave_api.h"

namespace morvane {

constexpr uint32_t kBufferCount = 300;

// Where the diagnostic line of a failed device call goes; none by default.
using WaveDiagnosticSink = void (*)(const char* line);
void SetWaveDiagnosticSink(WaveDiagnosticSink sink);

class CVoiceBase {
public:
    explicit CVoiceBase(IWaveApi& api);
    virtual ~CVoiceBase();
    // Devices hold headers and blocks by address: a wrapper never moves.
    CVoiceBase(const CVoiceBase&) = delete;
    CVoiceBase& operator=(const CVoiceBase&) = delete;

    void SetFormat(uint32_t samplesPerSec, uint16_t bitsPerSample, uint16_t channels);
    uint32_t BufferLength(float seconds) const;
    int CopyBuffer(uint32_t index, const char* source, float seconds);

    MMRESULT LastResult() const { return m_result; }
    const WAVEFORMATEX& Format() const { return m_format; }
    const WAVEHDR& Header(uint32_t index) const { return m_headers[index]; }
    char* Block(uint32_t index) const { return m_blocks[index].get(); }
    // The last diagnostic line ReportError made, for whoever wants to show it.
    const std::string& LastReport() const { return m_lastReport; }

protected:
    // Stores a device result; reports it and answers 0 when it is a failure.
    int Check(MMRESULT result);
    void ReportError(MMRESULT code);

    bool AllocateBuffer(uint32_t index, float seconds);
    void FreeBuffer(uint32_t index);

    // The operations both wrappers share, over their own API calls.
    template <class H, class Open>
    int OpenDevice(H* handle, uint32_t* deviceIdField, Open open, IWaveWindow* window,
                   uint32_t deviceId);
    template <class H>
    int CloseDevice(H* handle, MMRESULT (IWaveApi::*close)(H));
    template <class H>
    int PrepareDevice(H handle, MMRESULT (IWaveApi::*prepare)(H, WAVEHDR*, uint32_t),
                      uint32_t index, float seconds);
    template <class H>
    int UnprepareDevice(H handle, MMRESULT (IWaveApi::*unprepare)(H, WAVEHDR*, uint32_t),
                        uint32_t index);
    template <class H>
    int HeaderCall(H handle, MMRESULT (IWaveApi::*call)(H, WAVEHDR*, uint32_t), uint32_t index);

    // Blocks start on a cache line, so that copying one block into another
    // (both aligned alike) never splits a vector across two lines.
    static constexpr std::align_val_t kBlockAlignment{64};
    struct BlockDelete {
        void operator()(char* block) const { ::operator delete[](block, kBlockAlignment); }
    };
    using OwnedBlock = std::unique_ptr<char[], BlockDelete>;

    IWaveApi& m_api;
    MMRESULT m_result = MMSYSERR_NOERROR;
    std::array<OwnedBlock, kBufferCount> m_blocks;
    std::array<WAVEHDR, kBufferCount> m_headers{};
    WAVEFORMATEX m_format{};
    std::string m_lastReport;
};

template <class H, class Open>
int CVoiceBase::OpenDevice(H* handle, uint32_t* deviceIdField, Open open, IWaveWindow* window,
                           uint32_t deviceId) {
    if (*handle != nullptr) return 0;
    *deviceIdField = deviceId;
    return Check((m_api.*open)(handle, deviceId, &m_format, window,
                               reinterpret_cast<uintptr_t>(this), CALLBACK_WINDOW));
}

template <class H>
int CVoiceBase::CloseDevice(H* handle, MMRESULT (IWaveApi::*close)(H)) {
    if (!Check((m_api.*close)(*handle))) return 0;
    *handle = nullptr;
    return 1;
}

template <class H>
int CVoiceBase::PrepareDevice(H handle, MMRESULT (IWaveApi::*prepare)(H, WAVEHDR*, uint32_t),
                              uint32_t index, float seconds) {
    // A header whose block could not be allocated still names the freed
    // block: it must never reach the device.
    if (!AllocateBuffer(index, seconds)) return 0;
    return HeaderCall(handle, prepare, index);
}

template <class H>
int CVoiceBase::UnprepareDevice(H handle, MMRESULT (IWaveApi::*unprepare)(H, WAVEHDR*, uint32_t),
                                uint32_t index) {
    if (!HeaderCall(handle, unprepare, index)) return 0;
    FreeBuffer(index);
    return 1;
}

template <class H>
int CVoiceBase::HeaderCall(H handle, MMRESULT (IWaveApi::*call)(H, WAVEHDR*, uint32_t),
                           uint32_t index) {
    return Check((m_api.*call)(handle, &m_headers[index], sizeof(WAVEHDR)));
}

}  // namespace morvane
