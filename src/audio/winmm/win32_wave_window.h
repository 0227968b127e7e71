#pragma once
// A wave window that is a real Win32 window. The devices are opened with its
// HWND, so the platform posts MM_WIM_* / MM_WOM_* straight into that
// window's queue and no code of ours runs on the platform's threads.

#include <windows.h>

#include "audio/wave_api.h"

namespace morvane {

class IWin32WaveWindow : public IWaveWindow {
public:
    // The window that receives the device messages; it must exist whenever
    // a device is opened for it and until that device is closed.
    virtual HWND Hwnd() const = 0;

    // Anyone else's notifications take the devices' own path.
    void PostWaveMessage(uint32_t uMsg, uintptr_t hDevice, WAVEHDR* pwh) override {
        ::PostMessageW(Hwnd(), uMsg, static_cast<WPARAM>(hDevice), reinterpret_cast<LPARAM>(pwh));
    }

protected:
    ~IWin32WaveWindow() = default;
};

}  // namespace morvane
