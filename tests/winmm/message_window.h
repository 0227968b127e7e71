#pragma once
// A real message-only window that the wave devices notify, as the program's
// main window is notified: it records every device message with the header's
// state on arrival and the time it arrived.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/winmm/win32_wave_window.h"

namespace morvane::winmmtest {

struct WaveMessage {
    uint32_t msg;
    uintptr_t device;
    WAVEHDR* header;
    uint32_t flags;          // the header's, on arrival
    uint32_t bytesRecorded;  // the header's, on arrival
    std::chrono::steady_clock::time_point when;
};

class CMessageWindow final : public IWin32WaveWindow {
public:
    CMessageWindow();
    ~CMessageWindow();
    CMessageWindow(const CMessageWindow&) = delete;
    CMessageWindow& operator=(const CMessageWindow&) = delete;

    HWND Hwnd() const override { return m_hwnd; }

    // Runs the thread's message loop until `count` messages `msg` have
    // arrived in all, or `timeoutMs` has passed; true when they have.
    bool WaitFor(uint32_t msg, size_t count, int timeoutMs);
    // Runs the message loop for this long.
    void Pump(int ms);

    std::vector<WaveMessage> Of(uint32_t msg) const;
    const std::vector<WaveMessage>& All() const { return m_messages; }

    // Called in the window procedure after a message is recorded, as the
    // program's handlers are.
    std::function<void(const WaveMessage&)> onMessage;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND m_hwnd = nullptr;
    std::vector<WaveMessage> m_messages;
};

// Buffer indices of a run of messages (dwUser), in arrival order.
std::vector<uintptr_t> Indices(const std::vector<WaveMessage>& messages);

}  // namespace morvane::winmmtest
