#pragma once
// The wave interface for a layer that handles capture and playback alike:
// every call comes to one operation with the direction as its first
// argument, so that the layer writes each operation once.

#include "audio/wave_api.h"

namespace morvane {

class CWaveApiByDirection : public IWaveApi {
public:
    uint32_t waveInGetNumDevs() override { return Count(true); }
    MMRESULT waveInGetDevName(uint32_t id, std::string* name) override { return Name(true, id, name); }
    MMRESULT waveInOpen(HWAVEIN* phwi, uint32_t id, const WAVEFORMATEX* pwfx, IWaveWindow* window, uintptr_t,
                        uint32_t fdwOpen) override {
        return OpenInto(true, reinterpret_cast<void**>(phwi), id, pwfx, window, fdwOpen);
    }
    MMRESULT waveInClose(HWAVEIN hwi) override { return Close(true, hwi); }
    MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override {
        return Prepare(true, hwi, pwh, cbwh);
    }
    MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override {
        return Unprepare(true, hwi, pwh, cbwh);
    }
    MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, uint32_t cbwh) override { return Queue(true, hwi, pwh, cbwh); }
    MMRESULT waveInReset(HWAVEIN hwi) override { return Reset(true, hwi); }

    uint32_t waveOutGetNumDevs() override { return Count(false); }
    MMRESULT waveOutGetDevName(uint32_t id, std::string* name) override { return Name(false, id, name); }
    MMRESULT waveOutOpen(HWAVEOUT* phwo, uint32_t id, const WAVEFORMATEX* pwfx, IWaveWindow* window, uintptr_t,
                         uint32_t fdwOpen) override {
        return OpenInto(false, reinterpret_cast<void**>(phwo), id, pwfx, window, fdwOpen);
    }
    MMRESULT waveOutClose(HWAVEOUT hwo) override { return Close(false, hwo); }
    MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override {
        return Prepare(false, hwo, pwh, cbwh);
    }
    MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override {
        return Unprepare(false, hwo, pwh, cbwh);
    }
    MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) override { return Queue(false, hwo, pwh, cbwh); }
    MMRESULT waveOutReset(HWAVEOUT hwo) override { return Reset(false, hwo); }

    MMRESULT waveOutGetErrorTextA(MMRESULT code, char* text, uint32_t cchText) override {
        return CopyWaveResultText(code, text, cchText);
    }

protected:
    virtual uint32_t Count(bool capture) = 0;
    virtual MMRESULT Name(bool capture, uint32_t id, std::string* name) = 0;
    virtual MMRESULT Open(bool capture, void** handle, uint32_t id, const WAVEFORMATEX* format,
                          IWaveWindow* window, uint32_t flags) = 0;
    virtual MMRESULT Close(bool capture, void* handle) = 0;
    virtual MMRESULT Prepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT Unprepare(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT Queue(bool capture, void* handle, WAVEHDR* pwh, uint32_t cbwh) = 0;
    virtual MMRESULT Reset(bool capture, void* handle) = 0;

private:
    // The handle is written whatever the outcome (null on failure), as the
    // platform does.
    MMRESULT OpenInto(bool capture, void** out, uint32_t id, const WAVEFORMATEX* pwfx, IWaveWindow* window,
                      uint32_t flags) {
        if (out == nullptr) return MMSYSERR_INVALPARAM;
        void* h = nullptr;
        const MMRESULT r = Open(capture, &h, id, pwfx, window, flags);
        *out = h;
        return r;
    }
};

}  // namespace morvane
