// Works the running program's window from outside, as a user would, for the
// real-time tests under Wine (tests/e2e/):
//
//   morvane_win_control shown              until the window is there (10 s at most)
//   morvane_win_control wait-full SECONDS  until the fill band reaches the delay
//   morvane_win_control type TEXT          select the delay box's text, type TEXT
//   morvane_win_control exit               click Exit
//
// Exit code 0 when done; 1 when there is no window or the wait ran out;
// 2 on bad arguments.

#include "ui/win32/win32_api.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "resource.h"

namespace {

using namespace std::chrono_literals;

HWND FindMainWindow(std::chrono::milliseconds patience) {
    const auto until = std::chrono::steady_clock::now() + patience;
    for (;;) {
        HWND window = ::FindWindowW(L"#32770", L"Morvane");
        if (window != nullptr && ::IsWindowVisible(window)) return window;
        if (std::chrono::steady_clock::now() >= until) return nullptr;
        std::this_thread::sleep_for(50ms);
    }
}

// The band's end is the last buffer received while filling; the line plays
// once it is one short of the delay's count.
bool Full(HWND slider) {
    const auto pos = ::SendMessageW(slider, TBM_GETPOS, 0, 0);
    const auto end = ::SendMessageW(slider, TBM_GETSELEND, 0, 0);
    return pos > 0 && end + 1 >= pos;
}

int Usage() {
    std::fprintf(stderr, "usage: morvane_win_control shown | wait-full SECONDS | type TEXT | exit\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    HWND window = FindMainWindow(10s);
    if (window == nullptr) {
        std::fprintf(stderr, "morvane_win_control: no Morvane window\n");
        return 1;
    }
    if (command == "shown" && argc == 2) return 0;
    if (command == "wait-full" && argc == 3) {
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(static_cast<long>(std::atof(argv[2]) * 1000));
        HWND slider = ::GetDlgItem(window, IDC_DELAY_SLIDER);
        while (!Full(slider)) {
            // The window of a program that just ended may still have been
            // found: look again.
            if (!::IsWindow(window) || !::IsWindowVisible(window)) {
                window = FindMainWindow(0ms);
                slider = window != nullptr ? ::GetDlgItem(window, IDC_DELAY_SLIDER) : nullptr;
            }
            if (std::chrono::steady_clock::now() >= until) {
                std::fprintf(stderr, "morvane_win_control: the line did not fill (band %ld of %ld)\n",
                             static_cast<long>(::SendMessageW(slider, TBM_GETSELEND, 0, 0)) + 1,
                             static_cast<long>(::SendMessageW(slider, TBM_GETPOS, 0, 0)));
                return 1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return 0;
    }
    if (command == "type" && argc == 3) {
        HWND edit = ::GetDlgItem(window, IDC_DELAY_EDIT);
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        // Posted like keystrokes, so they pass the program's message loop.
        for (const char* c = argv[2]; *c != '\0'; ++c)
            ::PostMessageW(edit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(*c)), 1);
        // Back once the program has taken them.
        for (int i = 0; i < 100; ++i) {
            char text[16] = {};
            // Another process's edit answers only when asked.
            ::SendMessageA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
            if (std::strcmp(text, argv[2]) == 0) return 0;
            std::this_thread::sleep_for(20ms);
        }
        std::fprintf(stderr, "morvane_win_control: the delay box does not show %s\n", argv[2]);
        return 1;
    }
    if (command == "exit" && argc == 2) {
        ::PostMessageW(::GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
        return 0;
    }
    return Usage();
}
