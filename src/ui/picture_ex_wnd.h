#pragma once
// The animated picture control: takes over a placeholder window, sizes it to
// the picture, keeps the picture in an off-screen canvas and paints the
// window from it. An animated GIF is played by a thread of the control's own
// that draws each frame, waits its time, disposes of it and loops until told
// to stop.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "ui/gif_loader.h"
#include "ui/picture_canvas.h"
#include "ui/picture_wait.h"
#include "ui/program_resources.h"

namespace morvane {

// How long a frame is shown: its delay in hundredths of a second, but never
// less than 50 ms; delays under 5, and a frame without any delay, get 100 ms.
std::chrono::milliseconds FrameTime(uint32_t delay);

// How long StopAnimation waits for the thread before it returns anyway.
inline constexpr std::chrono::milliseconds kStopWait{5000};

class CPictureExWnd {
public:
    CPictureExWnd(IPictureDecoder& decoder, IWaitClock& clock);
    ~CPictureExWnd();
    CPictureExWnd(const CPictureExWnd&) = delete;
    CPictureExWnd& operator=(const CPictureExWnd&) = delete;

    // Takes over the window; null leaves the control detached.
    void AttachToControl(IPictureCanvas* window);

    // Each clears the control first; true when a picture was decoded and the
    // canvas made.
    bool LoadFromGlobal(std::span<const uint8_t> data);
    bool LoadFromFile(const std::filesystem::path& path);
    bool LoadFromResource(const IProgramResources& resources, const ResourceName& name,
                          std::string_view type);

    // Draws a still picture (true when drawn) or starts the animation
    // thread (false all the same).
    bool StartAnimation();
    void StopAnimation();
    // Stops, then drops the pictures, the frames and the canvas.
    void ClearPicture();
    bool SetupCanvas(CanvasSize size);

    // Takes effect only once there is a canvas, which it fills at once.
    void SetBackColor(Colour colour);
    Colour GetBackColor() const { return m_backColor; }
    CanvasSize GetCanvasSize() const { return m_canvasSize; }
    PixelRect GetViewRect() const { return m_viewRect; }
    // An empty rectangle shows the whole canvas.
    void SetViewRect(const PixelRect& rect) { m_viewRect = rect; }
    bool HoldsGif() const { return m_isGif; }
    bool IsAnimated() const { return m_isGif && m_frames.size() > 1; }
    bool IsAnimating() const { return m_playing; }
    std::size_t CountFrames() const { return IsAnimated() ? m_frames.size() : 0; }

    // From the window, on the UI thread. The window is going away: the
    // thread has ended and the window is let go when this returns.
    void HandleDestroy();
    intptr_t HandlePaint();

private:
    struct Frame {
        std::unique_ptr<IDecodedPicture> picture;
        PixelRect rect;
        uint32_t delay;
        int32_t disposal;
    };

    bool Load(GifLoad load);
    // StopAnimation, and then, if the thread outlasted its wait, a wait
    // without limit: for whatever must not be released under it.
    void EndThread();
    void AnimationThreadProc();
    void AnimationLoop();
    // Under m_canvasLock.
    void DisposeFrame(const Frame& frame);
    PixelRect WholeCanvas() const { return {0, 0, m_canvasSize.width, m_canvasSize.height}; }

    IPictureDecoder& m_decoder;
    IPictureCanvas* m_window = nullptr;

    PixelRect m_viewRect;
    CanvasSize m_canvasSize;
    Colour m_backColor = kWhite;
    std::size_t m_frameIndex = 0;
    bool m_isGif = false;
    bool m_ready = false;
    bool m_hasSavedArea = false;
    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_exitRequested{false};
    std::unique_ptr<IDecodedPicture> m_stillPicture;
    std::vector<Frame> m_frames;

    // Held for one frame's drawing (or one disposal) and for one paint.
    std::mutex m_canvasLock;
    std::unique_ptr<IWaitableEvent> m_exitEvent;
    // Set by the thread as the very last thing it does.
    std::unique_ptr<IWaitableEvent> m_threadEnded;
    // Joined only on the UI thread, once, after m_threadEnded was seen.
    std::thread m_thread;
};

}  // namespace morvane
