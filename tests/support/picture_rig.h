#pragma once
// Test doubles for the picture control: a virtual clock whose waits end only
// when the test moves time on, a canvas that keeps a log and a small pixel
// model, and a decoder that numbers what it decodes. They share one monitor,
// so a test can wait for the animation thread to reach a given point
// without sleeping.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ui/picture_canvas.h"
#include "ui/picture_wait.h"

namespace morvane::test {

// How long a test waits for the animation thread before it gives up: a guard
// against a hang, never a measure of anything.
inline constexpr std::chrono::seconds kHangGuard{20};

class CPictureMonitor {
public:
    std::mutex mutex;
    std::condition_variable changed;
    // Waits until `done` holds; false when the hang guard ran out first.
    bool Await(const std::function<bool()>& done);
    void Notify() { changed.notify_all(); }
};

class CVirtualClock final : public IWaitClock {
public:
    explicit CVirtualClock(CPictureMonitor& monitor) : m_monitor(monitor) {}

    std::unique_ptr<IWaitableEvent> MakeEvent() override;

    int64_t Now();
    // The same, for callers that hold the monitor's lock.
    int64_t NowLocked() const { return m_now; }
    // Waits for a wait whose timeout is `timeout` to begin.
    bool AwaitWaiter(std::chrono::milliseconds timeout);
    // Waits for the next timed wait (a frame's), moves time to its end and
    // waits until the waiter has woken. False on a hang.
    bool RunToNextDeadline();
    void Advance(std::chrono::milliseconds by);

private:
    class CEvent;
    struct Waiter {
        const CEvent* event;
        std::chrono::milliseconds timeout;
        int64_t deadline;
    };
    bool Wait(const CEvent& event, std::chrono::milliseconds timeout);

    CPictureMonitor& m_monitor;
    int64_t m_now = 0;
    std::vector<Waiter*> m_waiters;
    uint64_t m_wokenWaits = 0;
};

// A picture the fake decoder made: its number in decode order and its size.
class CNumberedPicture final : public IDecodedPicture {
public:
    CNumberedPicture(int number, CanvasSize size, std::function<void()> onRelease)
        : number(number), m_size(size), m_onRelease(std::move(onRelease)) {}
    ~CNumberedPicture() override { m_onRelease(); }
    CanvasSize Size() const override { return m_size; }
    const int number;

private:
    CanvasSize m_size;
    std::function<void()> m_onRelease;
};

class CRecordingCanvas;

// Numbers pictures from 1 in decode order; refuses the calls listed.
class CNumberingDecoder final : public IPictureDecoder {
public:
    explicit CNumberingDecoder(CRecordingCanvas& canvas) : m_canvas(canvas) {}
    std::unique_ptr<IDecodedPicture> Decode(std::span<const uint8_t> bytes) override;

    std::set<int> refuse;            // 1-based decode calls that fail
    CanvasSize stillSize{40, 30};    // the size of anything that is no GIF
    int calls = 0;
    int released = 0;

private:
    CRecordingCanvas& m_canvas;
};

// The canvas as a grid of values: a fill writes its colour, a draw writes
// the picture's number (as 1000 + number). Every call is logged with the
// virtual time, and calls that overlap or release what is being drawn are
// counted as faults.
class CRecordingCanvas final : public IPictureCanvas {
public:
    static constexpr Colour kMenuColour = 0x00C0C0C0;
    static constexpr Colour kButtonFace = 0x00D4D0C8;
    static constexpr uint32_t kDrawn = 1000;

    CRecordingCanvas(CPictureMonitor& monitor, CVirtualClock& clock) : m_monitor(monitor), m_clock(clock) {}

    // IPictureCanvas
    void Bind(CPictureExWnd* control) override;
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

    // What the test reads, under the monitor's lock or once the thread is
    // parked in a wait.
    struct Entry {
        int64_t time;
        std::string text;
    };
    std::vector<Entry> Log();
    std::vector<std::string> LogTexts();
    void ClearLog();
    uint32_t Pixel(int x, int y);
    int Faults();
    int Invalidations();
    CPictureExWnd* bound = nullptr;
    CanvasSize windowSize{19, 22};
    bool canvasExists = false;
    bool makeFails = false;

    // Holds the next Draw until Release(); the draw is then in progress.
    void HoldDraws() { std::lock_guard lock(m_monitor.mutex); m_holdDraws = true; }
    void ReleaseDraws();
    bool AwaitHeldDraw();
    // Called when a picture dies.
    void PictureReleased();

private:
    // Marks one canvas call under way; counts a fault if another is.
    class CCall;
    void Record(const std::string& text);
    void Paint(const PixelRect& rect, uint32_t value);

    CPictureMonitor& m_monitor;
    CVirtualClock& m_clock;
    std::vector<Entry> m_log;
    std::vector<uint32_t> m_pixels;
    std::vector<uint32_t> m_saved;
    PixelRect m_savedRect;
    CanvasSize m_size;
    int m_busy = 0;
    int m_faults = 0;
    int m_invalidations = 0;
    bool m_holdDraws = false;
    bool m_drawHeld = false;
    bool m_drawing = false;
};

std::string RectText(const PixelRect& rect);

}  // namespace morvane::test
