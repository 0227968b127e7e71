#pragma once
// What the picture control needs of a platform: a decoder that turns the
// bytes of a picture into something drawable, and the window it takes over
// with an off-screen canvas behind it. Qt and Win32 each supply both; tests
// supply recorders.

#include <cstdint>
#include <memory>
#include <span>

#include "ui/gif_frame_cutter.h"

namespace morvane {

// 0x00BBGGRR, as system colours are given.
using Colour = uint32_t;
inline constexpr Colour kWhite = 0xFFFFFF;

// The system colours the control asks for, by their Windows indices.
enum class SystemColour : int {
    Menu = 4,
    ButtonFace = 15,
};

// Left and top inclusive, right and bottom exclusive, in canvas pixels.
struct PixelRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// A picture decoded by the platform, ready to draw.
class IDecodedPicture {
public:
    virtual ~IDecodedPicture() = default;
    // Its own size in pixels at the screen's resolution.
    virtual CanvasSize Size() const = 0;
};

class IPictureDecoder {
public:
    // A GIF (one image) or any other still format the platform reads; null
    // when the bytes are refused.
    virtual std::unique_ptr<IDecodedPicture> Decode(std::span<const uint8_t> bytes) = 0;

protected:
    ~IPictureDecoder() = default;
};

class CPictureExWnd;

// The window the control takes over, and its canvas. The control calls the
// canvas operations from its animation thread as well as from the UI thread,
// never two at once; Invalidate may come from either thread.
class IPictureCanvas {
public:
    // The window reports its paints and its destruction to `control`
    // (HandlePaint, HandleDestroy); null ends that.
    virtual void Bind(CPictureExWnd* control) = 0;
    // Gives the window this size, keeping its position.
    virtual void ResizeWindow(CanvasSize size) = 0;
    virtual Colour GetSysColor(SystemColour which) const = 0;
    // Asks for a repaint of the whole window, without erasing it first.
    virtual void Invalidate() = 0;

    // Makes (or remakes) the canvas; false when it cannot be made.
    virtual bool MakeCanvas(CanvasSize size) = 0;
    virtual void ReleaseCanvas() = 0;
    virtual void Fill(const PixelRect& rect, Colour colour) = 0;
    // Draws the whole picture scaled into `rect`; false when nothing was drawn.
    virtual bool Draw(const IDecodedPicture& picture, const PixelRect& rect) = 0;
    // Keeps a copy of the canvas under `rect`; false when there is no room.
    virtual bool SaveArea(const PixelRect& rect) = 0;
    // Puts the kept copy back at `rect` and drops it.
    virtual void RestoreArea(const PixelRect& rect) = 0;
    virtual void ReleaseSavedArea() = 0;
    // Only while the window paints: copies `source` of the canvas to the
    // window's origin.
    virtual void CopyToWindow(const PixelRect& source) = 0;

protected:
    ~IPictureCanvas() = default;
};

}  // namespace morvane
