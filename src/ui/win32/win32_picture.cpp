#include "ui/win32/win32_picture.h"

#include <algorithm>
#include <cstring>

#include "ui/picture_ex_wnd.h"

namespace morvane {
namespace {

constexpr int kHimetricPerInch = 2540;

int ScreenPixels(long himetric, int axis) {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, axis) : 96;
    if (screen != nullptr) ::ReleaseDC(nullptr, screen);
    return ::MulDiv(static_cast<int>(himetric), dpi, kHimetricPerInch);
}

}  // namespace

CWin32Picture::CWin32Picture(IPicture* picture) : m_picture(picture) {
    m_picture->get_Width(&m_width);
    m_picture->get_Height(&m_height);
    m_size = {ScreenPixels(m_width, LOGPIXELSX), ScreenPixels(m_height, LOGPIXELSY)};
}

CWin32Picture::~CWin32Picture() { m_picture->Release(); }

// HIMETRIC runs upwards: the source starts at the bottom with a negative
// height.
bool CWin32Picture::Render(HDC dc, const PixelRect& rect) const {
    return SUCCEEDED(m_picture->Render(dc, rect.left, rect.top, rect.Width(), rect.Height(), 0, m_height,
                                       m_width, -m_height, nullptr));
}

std::unique_ptr<IDecodedPicture> CWin32PictureDecoder::Decode(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return nullptr;
    const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (memory == nullptr) return nullptr;
    if (void* data = ::GlobalLock(memory)) {
        std::memcpy(data, bytes.data(), bytes.size());
        ::GlobalUnlock(memory);
    }
    IStream* stream = nullptr;
    // The stream owns the memory from here on.
    if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        ::GlobalFree(memory);
        return nullptr;
    }
    IPicture* picture = nullptr;
    const HRESULT hr = ::OleLoadPicture(stream, static_cast<LONG>(bytes.size()), FALSE, IID_IPicture,
                                        reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(hr) || picture == nullptr) return nullptr;
    return std::make_unique<CWin32Picture>(picture);
}

// mov rcx, object; mov rax, proc; jmp rax. The window handle, the first
// argument, is replaced by the object.
CWindowThunk::CWindowThunk() = default;

CWindowThunk::~CWindowThunk() {
    if (m_code != nullptr) ::VirtualFree(m_code, 0, MEM_RELEASE);
}

WNDPROC CWindowThunk::Init(LRESULT(CALLBACK* proc)(HWND, UINT, WPARAM, LPARAM), void* object) {
#if defined(__x86_64__) || defined(_M_X64)
    if (m_code == nullptr) m_code = ::VirtualAlloc(nullptr, 32, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (m_code == nullptr) return nullptr;
    auto* code = static_cast<uint8_t*>(m_code);
    const auto objectBits = reinterpret_cast<uint64_t>(object);
    const auto procBits = reinterpret_cast<uint64_t>(proc);
    code[0] = 0x48;
    code[1] = 0xB9;  // mov rcx, imm64
    std::memcpy(code + 2, &objectBits, 8);
    code[10] = 0x48;
    code[11] = 0xB8;  // mov rax, imm64
    std::memcpy(code + 12, &procBits, 8);
    code[20] = 0xFF;
    code[21] = 0xE0;  // jmp rax
    ::FlushInstructionCache(::GetCurrentProcess(), m_code, 22);
    return reinterpret_cast<WNDPROC>(m_code);
#else
    (void)proc;
    (void)object;
    return nullptr;
#endif
}

CWin32PictureWindow::~CWin32PictureWindow() {
    ReleaseSavedArea();
    ReleaseCanvas();
    // A window that outlives us gets its own procedure back.
    if (m_hwnd != nullptr && ::IsWindow(m_hwnd) &&
        reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_hwnd, GWLP_WNDPROC)) == m_thunkProc)
        ::SetWindowLongPtrA(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldProc));
}

bool CWin32PictureWindow::Attach(HWND hwnd) {
    if (hwnd == nullptr || m_hwnd != nullptr) return false;
    m_thunkProc = m_thunk.Init(&CWin32PictureWindow::WindowProc, this);
    if (m_thunkProc == nullptr) return false;
    const auto old = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_thunkProc)));
    if (old == nullptr) return false;
    m_oldProc = old;
    m_hwnd = hwnd;
    return true;
}

LRESULT CALLBACK CWin32PictureWindow::WindowProc(HWND self, UINT msg, WPARAM wParam, LPARAM lParam) {
    return reinterpret_cast<CWin32PictureWindow*>(self)->OnMessage(msg, wParam, lParam);
}

LRESULT CWin32PictureWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    const HWND hwnd = m_hwnd;
    switch (msg) {
        case WM_DESTROY:
            // Stops the animation thread before anything it draws with goes.
            if (m_control != nullptr) m_control->HandleDestroy();
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            m_paintDC = ::BeginPaint(hwnd, &paint);
            if (m_paintDC == nullptr) return E_FAIL;
            if (m_control != nullptr) m_control->HandlePaint();
            ::EndPaint(hwnd, &paint);
            m_paintDC = nullptr;
            return 0;
        }
        case WM_NCDESTROY: {
            const LRESULT result = ::CallWindowProcA(m_oldProc, hwnd, msg, wParam, lParam);
            if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) == m_thunkProc)
                ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldProc));
            m_hwnd = nullptr;
            return result;
        }
        default:
            return ::CallWindowProcA(m_oldProc, hwnd, msg, wParam, lParam);
    }
}

void CWin32PictureWindow::ResizeWindow(CanvasSize size) {
    if (m_hwnd != nullptr)
        ::SetWindowPos(m_hwnd, nullptr, 0, 0, size.width, size.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

Colour CWin32PictureWindow::GetSysColor(SystemColour which) const { return ::GetSysColor(static_cast<int>(which)); }

void CWin32PictureWindow::Invalidate() {
    if (m_hwnd != nullptr) ::InvalidateRect(m_hwnd, nullptr, FALSE);
}

bool CWin32PictureWindow::MakeCanvas(CanvasSize size) {
    ReleaseCanvas();
    if (m_hwnd == nullptr) return false;
    const HDC window = ::GetDC(m_hwnd);
    if (window == nullptr) return false;
    m_canvasDC = ::CreateCompatibleDC(window);
    if (m_canvasDC == nullptr) {
        ::ReleaseDC(m_hwnd, window);
        return false;
    }
    m_canvasBitmap = ::CreateCompatibleBitmap(window, size.width, size.height);
    ::ReleaseDC(m_hwnd, window);
    if (m_canvasBitmap == nullptr) {
        ::DeleteDC(m_canvasDC);
        m_canvasDC = nullptr;
        return false;
    }
    m_canvasOldBitmap = ::SelectObject(m_canvasDC, m_canvasBitmap);
    return true;
}

void CWin32PictureWindow::ReleaseCanvas() {
    if (m_canvasDC != nullptr) {
        ::SelectObject(m_canvasDC, m_canvasOldBitmap);
        ::DeleteDC(m_canvasDC);
    }
    if (m_canvasBitmap != nullptr) ::DeleteObject(m_canvasBitmap);
    m_canvasDC = nullptr;
    m_canvasBitmap = nullptr;
    m_canvasOldBitmap = nullptr;
}

void CWin32PictureWindow::Fill(const PixelRect& rect, Colour colour) {
    if (m_canvasDC == nullptr) return;
    const HBRUSH brush = ::CreateSolidBrush(colour);
    const RECT area{rect.left, rect.top, rect.right, rect.bottom};
    ::FillRect(m_canvasDC, &area, brush);
    ::DeleteObject(brush);
}

bool CWin32PictureWindow::Draw(const IDecodedPicture& picture, const PixelRect& rect) {
    if (m_canvasDC == nullptr) return false;
    return static_cast<const CWin32Picture&>(picture).Render(m_canvasDC, rect);
}

bool CWin32PictureWindow::SaveArea(const PixelRect& rect) {
    ReleaseSavedArea();
    if (m_canvasDC == nullptr) return false;
    m_saveDC = ::CreateCompatibleDC(m_canvasDC);
    m_saveBitmap = ::CreateCompatibleBitmap(m_canvasDC, rect.Width(), rect.Height());
    if (m_saveDC == nullptr || m_saveBitmap == nullptr) {
        ReleaseSavedArea();
        return false;
    }
    m_saveOldBitmap = ::SelectObject(m_saveDC, m_saveBitmap);
    ::BitBlt(m_saveDC, 0, 0, rect.Width(), rect.Height(), m_canvasDC, rect.left, rect.top, SRCCOPY);
    return true;
}

void CWin32PictureWindow::RestoreArea(const PixelRect& rect) {
    if (m_saveDC != nullptr && m_canvasDC != nullptr)
        ::BitBlt(m_canvasDC, rect.left, rect.top, rect.Width(), rect.Height(), m_saveDC, 0, 0, SRCCOPY);
    ReleaseSavedArea();
}

void CWin32PictureWindow::ReleaseSavedArea() {
    if (m_saveDC != nullptr) {
        if (m_saveOldBitmap != nullptr) ::SelectObject(m_saveDC, m_saveOldBitmap);
        ::DeleteDC(m_saveDC);
    }
    if (m_saveBitmap != nullptr) ::DeleteObject(m_saveBitmap);
    m_saveDC = nullptr;
    m_saveBitmap = nullptr;
    m_saveOldBitmap = nullptr;
}

void CWin32PictureWindow::CopyToWindow(const PixelRect& source) {
    if (m_paintDC == nullptr || m_canvasDC == nullptr) return;
    ::BitBlt(m_paintDC, 0, 0, source.Width(), source.Height(), m_canvasDC, source.left, source.top, SRCCOPY);
}

namespace {

class CWin32Event final : public IWaitableEvent {
public:
    CWin32Event() : m_event(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~CWin32Event() override {
        if (m_event != nullptr) ::CloseHandle(m_event);
    }
    CWin32Event(const CWin32Event&) = delete;
    CWin32Event& operator=(const CWin32Event&) = delete;

    void Set() override { ::SetEvent(m_event); }
    void Reset() override { ::ResetEvent(m_event); }
    bool Wait(std::chrono::milliseconds timeout) override {
        DWORD ms = INFINITE;
        if (timeout != kWaitForever)
            ms = static_cast<DWORD>(std::clamp<int64_t>(timeout.count(), 0, INFINITE - 1));
        return ::WaitForSingleObject(m_event, ms) == WAIT_OBJECT_0;
    }

private:
    HANDLE m_event;
};

class CWin32WaitClock final : public IWaitClock {
public:
    std::unique_ptr<IWaitableEvent> MakeEvent() override { return std::make_unique<CWin32Event>(); }
};

}  // namespace

IWaitClock& Win32WaitClock() {
    static CWin32WaitClock clock;
    return clock;
}

}  // namespace morvane
