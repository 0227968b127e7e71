#pragma once
// The picture control on Win32: pictures decoded by the platform's OLE
// picture loader, a GDI memory bitmap as the canvas, and the placeholder
// static control taken over through a window-procedure thunk. Waits of the
// animation thread run on the platform's events.

#include <memory>

#include "ui/picture_canvas.h"
#include "ui/picture_wait.h"
#include "ui/win32/win32_api.h"

namespace morvane {

class CWin32Picture final : public IDecodedPicture {
public:
    explicit CWin32Picture(IPicture* picture);
    ~CWin32Picture() override;
    CWin32Picture(const CWin32Picture&) = delete;
    CWin32Picture& operator=(const CWin32Picture&) = delete;

    CanvasSize Size() const override { return m_size; }
    // Renders the whole picture scaled into the rectangle; false on failure.
    bool Render(HDC dc, const PixelRect& rect) const;

private:
    IPicture* m_picture;
    OLE_XSIZE_HIMETRIC m_width = 0;
    OLE_YSIZE_HIMETRIC m_height = 0;
    CanvasSize m_size;
};

// One picture per OleLoadPicture call: a still image or one image cut from
// an animation.
class CWin32PictureDecoder final : public IPictureDecoder {
public:
    std::unique_ptr<IDecodedPicture> Decode(std::span<const uint8_t> bytes) override;
};

// The thunk: a few bytes of code that call WindowProc with the object in
// place of the window handle, so that the window's messages reach it
// without any lookup.
class CWindowThunk {
public:
    CWindowThunk();
    ~CWindowThunk();
    CWindowThunk(const CWindowThunk&) = delete;
    CWindowThunk& operator=(const CWindowThunk&) = delete;

    // Null when no executable memory could be had.
    WNDPROC Init(LRESULT(CALLBACK* proc)(HWND, UINT, WPARAM, LPARAM), void* object);

private:
    void* m_code = nullptr;
};

class CWin32PictureWindow final : public IPictureCanvas {
public:
    CWin32PictureWindow() = default;
    ~CWin32PictureWindow();
    CWin32PictureWindow(const CWin32PictureWindow&) = delete;
    CWin32PictureWindow& operator=(const CWin32PictureWindow&) = delete;

    // Subclasses the window; false leaves it as it was.
    bool Attach(HWND hwnd);
    HWND Hwnd() const { return m_hwnd; }

    // IPictureCanvas
    void Bind(CPictureExWnd* control) override { m_control = control; }
    void ResizeWindow(CanvasSize size) override;
    Colour GetSysColor(SystemColour which) const override;
    void Invalidate() override;
    bool MakeCanvas(CanvasSize size) override;
    void ReleaseCanvas() override;
    void Fill(const PixelRect& rect, Colour colour) override;
    bool Draw(const IDecodedPicture& picture, const PixelRect& rect) override;
    bool SaveArea(const PixelRect& rect) override;
    void RestoreArea(const PixelRect& rect) override;
    void ReleaseSavedArea() override;
    void CopyToWindow(const PixelRect& source) override;

private:
    static LRESULT CALLBACK WindowProc(HWND self, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hwnd = nullptr;
    WNDPROC m_oldProc = nullptr;
    WNDPROC m_thunkProc = nullptr;
    CWindowThunk m_thunk;
    CPictureExWnd* m_control = nullptr;

    HDC m_canvasDC = nullptr;
    HBITMAP m_canvasBitmap = nullptr;
    HGDIOBJ m_canvasOldBitmap = nullptr;
    HDC m_saveDC = nullptr;
    HBITMAP m_saveBitmap = nullptr;
    HGDIOBJ m_saveOldBitmap = nullptr;
    // Only while the window paints.
    HDC m_paintDC = nullptr;
};

// Manual-reset events of the platform, waited on with its timeouts.
IWaitClock& Win32WaitClock();

}  // namespace morvane
