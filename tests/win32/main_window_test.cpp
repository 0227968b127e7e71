// The real main window under Wine: the controls made from its template, the
// keyboard interface through the message loop, the Tuner and About boxes
// over a running line, and the ways out with their exit code. Runs against
// a private sound server (tests/winmm/private_server.cpp) and needs a
// display (Xvfb).

#include "ui/win32/win32_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cwctype>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_run.h"
#include "app/options.h"
#include "app/windows/app_module.h"
#include "app/windows/message_loop.h"
#include "audio/winmm/winmm_wave_api.h"
#include "resource.h"
#include "tuner/dshow/dshow_tuner.h"
#include "ui/main_dlg.h"
#include "ui/win32/win32_dialog_host.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;

struct ExpectedControl {
    int id;
    const char* className;
    int x, y, width, height;
    DWORD style;
};

// From the template source the resource script is made from.
constexpr ExpectedControl kMainControls[] = {
#define DIALOG_BEGIN(...)
#define DIALOG_CONTROL(id, kind, className, text, x, y, width, height, style, exStyle) \
    {id, className, x, y, width, height, static_cast<DWORD>(style)},
#define DIALOG_END()
#include "dialogs/main_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}

// A visible top-level window of `process` with this caption, waited for.
HWND WaitForWindow(const std::wstring& caption, DWORD process, std::chrono::milliseconds timeout = 10s) {
    struct Search {
        const std::wstring* caption;
        DWORD process;
        HWND found;
    } search{&caption, process, nullptr};
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        ::EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD owner = 0;
                ::GetWindowThreadProcessId(window, &owner);
                if (owner != s->process || !::IsWindowVisible(window) || TextOf(window) != *s->caption) return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        std::this_thread::sleep_for(20ms);
    }
    return nullptr;
}

bool WaitUntilGone(HWND window, std::chrono::milliseconds timeout = 5s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (::IsWindow(window)) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The window's pixels as the screen shows them.
std::vector<uint32_t> Capture(HWND window) {
    RECT client;
    ::GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    const HDC dc = ::GetDC(window);
    const HDC memory = ::CreateCompatibleDC(dc);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(dc, width, height);
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    ::SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(window, dc);
    return pixels;
}

// The device with this name, or -1.
int FindDevice(IWaveApi& wave, bool capture, const std::string& wanted) {
    const uint32_t count = capture ? wave.waveInGetNumDevs() : wave.waveOutGetNumDevs();
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        if (capture)
            wave.waveInGetDevName(i, &name);
        else
            wave.waveOutGetDevName(i, &name);
        if (name == wanted) return static_cast<int>(i);
    }
    return -1;
}

// Capture buffers the thread's loops took while `counting` was set.
std::atomic<bool> g_counting{false};
std::atomic<int> g_countedCaptures{0};

LRESULT CALLBACK CountCaptures(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const MSG*>(lParam);
    if (code >= 0 && wParam == PM_REMOVE && msg->message == MM_WIM_DATA && g_counting) ++g_countedCaptures;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

CComEntryPoints RecordingMade(std::vector<HRESULT>& made) {
    CComEntryPoints entry = CComEntryPoints::System();
    entry.createInstance = [&made, make = entry.createInstance](REFCLSID clsid, IUnknown* outer, DWORD context,
                                                               REFIID iid, void** object) {
        made.push_back(make(clsid, outer, context, iid, object));
        return made.back();
    };
    return entry;
}

class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::CoInitialize(nullptr);
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&classes);
    }

    // Opens the window with these arguments (after the program's name).
    // The window over a running line, "Monitor of Radio" to "TV" at 0.5 s.
    void OpenPlaying() {
        const int input = FindDevice(m_wave, true, "Monitor of Radio");
        const int output = FindDevice(m_wave, false, "TV");
        ASSERT_GE(input, 0);
        ASSERT_GE(output, 0);
        ASSERT_NO_FATAL_FAILURE(
            Open({"-in", std::to_string(input), "-out", std::to_string(output), "-delay", "0.5", "-play"}));
        ASSERT_TRUE(m_dialog.Engine().IsPlaying());
    }

    void Open(std::vector<std::string> arguments) {
        m_arguments = std::move(arguments);
        m_arguments.insert(m_arguments.begin(), "morvane");
        m_argv.clear();
        for (const auto& argument : m_arguments) m_argv.push_back(argument.c_str());
        SetProcessArguments(static_cast<int>(m_argv.size()), m_argv.data());
        ASSERT_TRUE(AppModule().AddMessageLoop(&m_loop));
        ASSERT_TRUE(StartMainWindow(m_host, m_dialog));
        ASSERT_NE(m_host.Hwnd(), nullptr);
    }

    void TearDown() override {
        if (m_host.Hwnd() != nullptr) {
            ::SendMessageA(m_host.Hwnd(), WM_COMMAND, IDCANCEL, 0);
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            }
        }
        AppModule().RemoveMessageLoop();
        SetProcessArguments(0, nullptr);
    }

    // Runs the loop while `script` works on another thread; the script
    // ends with the window's Exit, and the loop's result is returned.
    int RunWhile(std::function<void(HWND)> script) {
        const HWND window = m_host.Hwnd();
        const DWORD loopThread = ::GetCurrentThreadId();
        std::thread worker([&] {
            script(window);
            if (::IsWindow(window))
                ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            else
                ::PostThreadMessageA(loopThread, WM_QUIT, 0, 0);  // gone already: end the loop all the same
        });
        const int code = m_loop.Run();
        worker.join();
        return code;
    }

    CWinmmWaveApi m_wave;
    CWin32DialogHost m_host;
    // The system's DirectShow, with the answers of the objects it makes.
    std::vector<HRESULT> m_made;
    CDShowTuner m_tuner{[this] { return m_host.Hwnd(); }, RecordingMade(m_made)};
    CMainDlg m_dialog{m_wave, m_host, m_tuner};
    CMessageLoop m_loop;
    std::vector<std::string> m_arguments;
    std::vector<const char*> m_argv;
};

TEST_F(MainWindow, EveryControlOfTheTemplateExistsWithItsClassIdStyleAndPlace) {
    ASSERT_NO_FATAL_FAILURE(Open({}));
    const HWND dialog = m_host.Hwnd();
    EXPECT_EQ(TextOf(dialog), L"Morvane");
    RECT size{0, 0, 364, 215};
    ::MapDialogRect(dialog, &size);
    RECT client;
    ::GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    // Children in z-order are the template's controls in its order.
    HWND control = ::GetWindow(dialog, GW_CHILD);
    for (const ExpectedControl& want : kMainControls) {
        SCOPED_TRACE(testing::Message() << "control " << want.id << " at " << want.x << "," << want.y);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(static_cast<uint16_t>(::GetDlgCtrlID(control)), static_cast<uint16_t>(want.id));
        std::wstring expectedClass(want.className, want.className + std::char_traits<char>::length(want.className));
        EXPECT_EQ(Lower(ClassOf(control)), Lower(expectedClass));
        // What the controls make of their template styles themselves: a
        // drop-down list gives its scroll bar to its list, an edit box
        // draws its border as a client edge, and a meter draws its own frame.
        const DWORD style = static_cast<DWORD>(::GetWindowLongW(control, GWL_STYLE));
        const DWORD exStyle = static_cast<DWORD>(::GetWindowLongW(control, GWL_EXSTYLE));
        DWORD expectedStyle = want.style;
        if (Lower(expectedClass) == L"combobox") expectedStyle &= ~DWORD{WS_VSCROLL};
        if ((want.style & WS_BORDER) != 0 && (style & WS_BORDER) == 0) {
            if (Lower(expectedClass) == L"edit") {
                EXPECT_NE(exStyle & WS_EX_CLIENTEDGE, 0u) << "no border";
            } else {
                EXPECT_EQ(Lower(expectedClass), L"msctls_progress32");
            }
            expectedStyle &= ~DWORD{WS_BORDER};
        }
        EXPECT_EQ(style, expectedStyle) << std::hex << style << " " << expectedStyle;
        // The dialog manager places each control by its own origin and size.
        RECT origin{want.x, want.y, want.width, want.height};
        ::MapDialogRect(dialog, &origin);
        const RECT expected{origin.left, origin.top, origin.left + origin.right, origin.top + origin.bottom};
        RECT actual;
        ::GetWindowRect(control, &actual);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right, expected.right);
        // A drop-down list's template height includes its dropped-down part.
        if (Lower(expectedClass) != L"combobox") {
            EXPECT_EQ(actual.bottom, expected.bottom);
        }
        control = ::GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "a control beyond the template";

    // As initialised: Stop pressed, delay 1.0 at slider 10, meters ranged.
    EXPECT_EQ(::SendDlgItemMessageA(dialog, IDC_STOP, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendDlgItemMessageA(dialog, IDC_PLAY, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(TextOf(::GetDlgItem(dialog, IDC_DELAY_EDIT)), L"1.0");
    EXPECT_EQ(::SendDlgItemMessageA(dialog, IDC_DELAY_SLIDER, TBM_GETPOS, 0, 0), 10);
    EXPECT_EQ(::SendDlgItemMessageA(dialog, IDC_INPUT_LEFT, PBM_GETRANGE, FALSE, 0), 32767);
    EXPECT_NE(::SendDlgItemMessageA(dialog, IDC_PLAY, BM_GETIMAGE, IMAGE_ICON, 0), 0);
}

TEST_F(MainWindow, TabVisitsTheTabStopsInTemplateOrderAndNeverPlayOrStop) {
    ASSERT_NO_FATAL_FAILURE(Open({}));
    const HWND dialog = m_host.Hwnd();
    const int expected[] = {IDC_INPUT_DEVICE, IDC_DELAY_SLIDER, IDC_DELAY_EDIT, ID_APP_ABOUT, IDC_MIXER,
                            IDCANCEL,         IDC_TUNER,        IDC_OUTPUT_DEVICE, IDC_INPUT_DEVICE};
    // The initialisation's result gives the focus to the first tab stop.
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDC_INPUT_DEVICE));
    std::vector<int> visited;
    std::vector<LONG> radioStyles;
    const int code = RunWhile([&](HWND window) {
        const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
        auto focus = [thread] {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            ::GetGUIThreadInfo(thread, &info);
            return info.hwndFocus;
        };
        for (size_t i = 1; i < std::size(expected); ++i) {
            const HWND before = focus();
            // Through the thread's queue to the focus, as the keyboard would.
            ::PostMessageA(before, WM_KEYDOWN, VK_TAB, 0x000F0001);
            const auto end = std::chrono::steady_clock::now() + 3s;
            HWND after = before;
            while (after == before && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(10ms);
                after = focus();
            }
            visited.push_back(::GetDlgCtrlID(after));
        }
        // Clicking Play or Stop (which checks it) keeps them out all the same.
        ::SendMessageA(::GetDlgItem(window, IDC_PLAY), BM_CLICK, 0, 0);
        ::SendMessageA(::GetDlgItem(window, IDC_STOP), BM_CLICK, 0, 0);
        for (const int id : {IDC_PLAY, IDC_STOP})
            radioStyles.push_back(::GetWindowLongA(::GetDlgItem(window, id), GWL_STYLE) & WS_TABSTOP);
    });
    EXPECT_EQ(radioStyles, (std::vector<LONG>{0, 0})) << "Play or Stop in the tab order";
    EXPECT_EQ(code, IDCANCEL);
    EXPECT_EQ(visited, std::vector<int>(std::begin(expected) + 1, std::end(expected)));
}

TEST_F(MainWindow, TunerShowsTheNoTunerErrorWithOkOnlyWhileTheLineRuns) {
    ASSERT_NO_FATAL_FAILURE(OpenPlaying());
    m_made.clear();
    const HHOOK hook = ::SetWindowsHookExW(WH_GETMESSAGE, CountCaptures, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    std::wstring text;
    std::vector<std::wstring> buttons;
    bool found = false;
    bool closed = false;
    const int code = RunWhile([&](HWND window) {
        ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_TUNER, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(window, IDC_TUNER)));
        const HWND box = WaitForWindow(L"Error", ::GetCurrentProcessId());
        if (box == nullptr) return;
        found = true;
        g_countedCaptures = 0;
        g_counting = true;
        for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            if (Lower(ClassOf(child)) == L"button")
                buttons.push_back(TextOf(child));
            else if (!TextOf(child).empty())
                text += TextOf(child);
        }
        // Let a second of capture buffers come in behind the box.
        std::this_thread::sleep_for(1s);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        closed = WaitUntilGone(box);
        g_counting = false;
    });
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ(code, IDCANCEL);
    // The system's device enumerator was asked; its tuner category is empty.
    EXPECT_EQ(m_made, std::vector<HRESULT>{S_OK});
    ASSERT_TRUE(found);
    EXPECT_EQ(text, L"Sorry, no tuner found");
    EXPECT_EQ(buttons, std::vector<std::wstring>{L"OK"});
    EXPECT_TRUE(closed) << "OK did not close the box";
    // Ten buffers a second arrive; the box's own loop handed them on.
    EXPECT_GE(g_countedCaptures.load(), 5);
}

TEST_F(MainWindow, AltAOpensTheAboutBoxWhichAnimatesAndClosesOnEscapeWhileTheLineRuns) {
    ASSERT_NO_FATAL_FAILURE(OpenPlaying());
    // The first Play built the tuner graph: graph, builder and device
    // enumerator made (the capture category is empty here).
    EXPECT_TRUE(m_dialog.Engine().GraphBuilt());
    EXPECT_EQ(m_made, (std::vector<HRESULT>{S_OK, S_OK, S_OK}));
    const HHOOK hook = ::SetWindowsHookExW(WH_GETMESSAGE, CountCaptures, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);

    HWND about = nullptr;
    std::wstring text;
    RECT pictureRect{};
    bool animated = false;
    bool closed = false;
    bool mainStayed = false;
    const int code = RunWhile([&](HWND window) {
        // Alt+A as the keyboard gives it: a system key, made a system
        // character by the loop, taken by the dialog as the mnemonic.
        ::PostMessageA(window, WM_SYSKEYDOWN, 'A', 0x20000001);
        ::PostMessageA(window, WM_SYSKEYUP, 'A', static_cast<LPARAM>(0xE0000001u));
        about = WaitForWindow(L"About Morvane", ::GetCurrentProcessId());
        if (about == nullptr) return;
        g_countedCaptures = 0;
        g_counting = true;
        text = TextOf(::GetDlgItem(about, IDC_ABOUT_TEXT));
        const HWND picture = ::GetDlgItem(about, IDC_ABOUT_PICTURE);
        ::GetWindowRect(picture, &pictureRect);
        const std::vector<uint32_t> first = Capture(picture);
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (!animated && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(50ms);
            animated = Capture(picture) != first;
        }
        // Let a second of capture buffers come in while the box is open.
        std::this_thread::sleep_for(1s);
        ::PostMessageA(::GetDlgItem(about, IDOK), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        closed = WaitUntilGone(about);
        g_counting = false;
        mainStayed = ::IsWindowVisible(window) != FALSE;
    });
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ(code, IDCANCEL);
    ASSERT_NE(about, nullptr) << "Alt+A opened no About box";
    EXPECT_EQ(text.rfind(L"Morvane Build ", 0), 0u) << "text: " << std::string(text.begin(), text.end());
    ASSERT_GE(text.size(), 22u);
    for (size_t i = 14; i < 22; ++i) EXPECT_TRUE(std::iswdigit(text[i])) << "build number digit " << i;
    EXPECT_EQ(pictureRect.right - pictureRect.left, 59);
    EXPECT_EQ(pictureRect.bottom - pictureRect.top, 76);
    EXPECT_TRUE(animated) << "two captures of the picture were the same";
    EXPECT_TRUE(closed) << "Escape did not close the About box";
    EXPECT_TRUE(mainStayed);
    // Ten buffers a second arrive; the box's own loop handed them on.
    EXPECT_GE(g_countedCaptures.load(), 5);
}

// The program as it is started: each way out ends it with code 2.
class ProgramExit : public ::testing::TestWithParam<const char*> {};

TEST_P(ProgramExit, EndsWithCodeTwo) {
    const std::string way = GetParam();
    std::wstring command = L"\"" MORVANE_EXE_W L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process));
    const HWND window = WaitForWindow(L"Morvane", process.dwProcessId);
    EXPECT_NE(window, nullptr);
    if (window != nullptr) {
        if (way == "escape")
            ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        else if (way == "close box")
            ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            ::PostMessageW(::GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    }
    const bool ended = ::WaitForSingleObject(process.hProcess, 15000) == WAIT_OBJECT_0;
    if (!ended) ::TerminateProcess(process.hProcess, 99);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    EXPECT_TRUE(ended);
    EXPECT_EQ(code, 2u);
}

INSTANTIATE_TEST_SUITE_P(Ways, ProgramExit, ::testing::Values("escape", "close box", "exit button"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (auto& c : name)
                                 if (c == ' ') c = '_';
                             return name;
                         });

}  // namespace
}  // namespace morvane
