// The picture control on the platform: the About picture decoded from the
// program's resources, drawn into a placeholder taken over through the
// thunk, and the placeholder's own procedure back when it goes.

#include "ui/win32/win32_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "resource.h"
#include "ui/picture_ex_wnd.h"
#include "ui/win32/win32_picture.h"
#include "ui/win32/win32_resources.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;

// A counting procedure behind the control, to see what reaches it.
int g_passedOn = 0;
WNDPROC g_staticProc = nullptr;
LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER + 7) ++g_passedOn;
    return ::CallWindowProcA(g_staticProc, hwnd, msg, wParam, lParam);
}

class PictureWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ::OleInitialize(nullptr);
        m_parent = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 10, 200, 200, nullptr, nullptr,
                                     nullptr, nullptr);
        ASSERT_NE(m_parent, nullptr) << "no display?";
        m_placeholder = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_WHITEFRAME, 16, 16, 19, 22,
                                          m_parent, nullptr, nullptr, nullptr);
        ASSERT_NE(m_placeholder, nullptr);
        // Our counting procedure first, so the control's previous one is ours.
        g_staticProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(m_placeholder, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingProc)));
    }
    void TearDown() override {
        if (m_parent != nullptr) ::DestroyWindow(m_parent);
        ::OleUninitialize();
    }

    HWND m_parent = nullptr;
    HWND m_placeholder = nullptr;
};

TEST_F(PictureWindow, TakesOverThePlaceholderAndPassesOnWhatItDoesNotHandle) {
    CWin32PictureWindow window;
    ASSERT_TRUE(window.Attach(m_placeholder));
    const auto proc = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_placeholder, GWLP_WNDPROC));
    EXPECT_NE(proc, &CountingProc);
    g_passedOn = 0;
    ::SendMessageA(m_placeholder, WM_USER + 7, 0, 0);
    EXPECT_EQ(g_passedOn, 1);
    EXPECT_FALSE(window.Attach(m_placeholder)) << "taken over twice";
}

TEST_F(PictureWindow, ShowsTheAnimatedAboutPictureAndStopsWhenTheWindowGoes) {
    CWin32PictureWindow window;
    ASSERT_TRUE(window.Attach(m_placeholder));
    CWin32PictureDecoder decoder;
    const CWin32ProgramResources resources(::GetModuleHandleA(nullptr));
    CPictureExWnd picture(decoder, Win32WaitClock());
    picture.AttachToControl(&window);
    ASSERT_TRUE(picture.LoadFromResource(resources, uint16_t{IDR_ABOUT_PICTURE}, "BINARY"));
    EXPECT_TRUE(picture.IsAnimated());
    EXPECT_GT(picture.CountFrames(), 1u);
    // The placeholder takes the picture's size at its own place.
    RECT rect;
    ::GetWindowRect(m_placeholder, &rect);
    ::MapWindowPoints(nullptr, m_parent, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 16);
    EXPECT_EQ(rect.top, 16);
    EXPECT_EQ(rect.right - rect.left, 59);
    EXPECT_EQ(rect.bottom - rect.top, 76);

    picture.StartAnimation();
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (!picture.IsAnimating() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(picture.IsAnimating());

    // Destroying the window stops the thread at once and lets the window go.
    const auto before = std::chrono::steady_clock::now();
    ::DestroyWindow(m_placeholder);
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_FALSE(picture.IsAnimating());
    EXPECT_LT(took, 1s);
    EXPECT_EQ(window.Hwnd(), nullptr);
}

TEST_F(PictureWindow, RefusesBytesThatAreNoPicture) {
    CWin32PictureDecoder decoder;
    const uint8_t junk[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(decoder.Decode(junk), nullptr);
    EXPECT_EQ(decoder.Decode({}), nullptr);
    const CWin32ProgramResources resources(::GetModuleHandleA(nullptr));
    EXPECT_FALSE(resources.ReadResource(uint16_t{9999}, "BINARY").has_value());
    const auto gif = resources.ReadResource(uint16_t{IDR_ABOUT_PICTURE}, "BINARY");
    ASSERT_TRUE(gif.has_value());
    EXPECT_EQ(std::string(gif->begin(), gif->begin() + 6), "GIF89a");
}

}  // namespace
}  // namespace morvane
