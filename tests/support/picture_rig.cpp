#include "support/picture_rig.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace morvane::test {

bool CPictureMonitor::Await(const std::function<bool()>& done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, kHangGuard, done);
}

// ---- Virtual clock --------------------------------------------------------

class CVirtualClock::CEvent final : public IWaitableEvent {
public:
    explicit CEvent(CVirtualClock& clock) : m_clock(clock) {}
    void Set() override {
        std::lock_guard lock(m_clock.m_monitor.mutex);
        set = true;
        m_clock.m_monitor.Notify();
    }
    void Reset() override {
        std::lock_guard lock(m_clock.m_monitor.mutex);
        set = false;
    }
    bool Wait(std::chrono::milliseconds timeout) override { return m_clock.Wait(*this, timeout); }
    bool set = false;

private:
    CVirtualClock& m_clock;
};

std::unique_ptr<IWaitableEvent> CVirtualClock::MakeEvent() { return std::make_unique<CEvent>(*this); }

bool CVirtualClock::Wait(const CEvent& event, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_monitor.mutex);
    Waiter waiter{&event, timeout, timeout == kWaitForever ? INT64_MAX : m_now + timeout.count()};
    m_waiters.push_back(&waiter);
    m_monitor.Notify();
    // No hang guard here: a wait ends by its event or by the test's time.
    m_monitor.changed.wait(lock, [&] { return event.set || m_now >= waiter.deadline; });
    std::erase(m_waiters, &waiter);
    ++m_wokenWaits;
    m_monitor.Notify();
    return event.set;
}

int64_t CVirtualClock::Now() {
    std::lock_guard lock(m_monitor.mutex);
    return m_now;
}

bool CVirtualClock::AwaitWaiter(std::chrono::milliseconds timeout) {
    return m_monitor.Await([&] {
        return std::any_of(m_waiters.begin(), m_waiters.end(),
                           [&](const Waiter* w) { return w->timeout == timeout && !w->event->set; });
    });
}

bool CVirtualClock::RunToNextDeadline() {
    std::unique_lock lock(m_monitor.mutex);
    const auto timed = [&] {
        return std::find_if(m_waiters.begin(), m_waiters.end(), [](const Waiter* w) {
            return w->timeout != kWaitForever && !w->event->set;
        });
    };
    if (!m_monitor.changed.wait_for(lock, kHangGuard, [&] { return timed() != m_waiters.end(); }))
        return false;
    const uint64_t woken = m_wokenWaits;
    m_now = (*timed())->deadline;
    m_monitor.Notify();
    return m_monitor.changed.wait_for(lock, kHangGuard, [&] { return m_wokenWaits > woken; });
}

void CVirtualClock::Advance(std::chrono::milliseconds by) {
    std::lock_guard lock(m_monitor.mutex);
    m_now += by.count();
    m_monitor.Notify();
}

// ---- Decoder --------------------------------------------------------------

std::unique_ptr<IDecodedPicture> CNumberingDecoder::Decode(std::span<const uint8_t> bytes) {
    const int number = ++calls;
    if (refuse.count(number) != 0 || bytes.empty()) return nullptr;
    CanvasSize size = stillSize;
    // A GIF shows itself at its logical screen size.
    if (bytes.size() >= 10 && bytes[0] == 'G' && bytes[1] == 'I' && bytes[2] == 'F')
        size = {bytes[6] | (bytes[7] << 8), bytes[8] | (bytes[9] << 8)};
    return std::make_unique<CNumberedPicture>(number, size, [this] {
        ++released;
        m_canvas.PictureReleased();
    });
}

// ---- Canvas ---------------------------------------------------------------

std::string RectText(const PixelRect& rect) {
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", rect.left, rect.top, rect.right, rect.bottom);
    return text;
}

namespace {
std::string ColourText(Colour colour) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", colour);
    return text;
}
}  // namespace

class CRecordingCanvas::CCall {
public:
    explicit CCall(CRecordingCanvas& canvas) : m_canvas(canvas) {
        std::lock_guard lock(m_canvas.m_monitor.mutex);
        if (m_canvas.m_busy++ != 0) ++m_canvas.m_faults;
    }
    ~CCall() {
        // Leaves room for a call from the other thread to come in meanwhile.
        for (int i = 0; i < 20; ++i) std::this_thread::yield();
        std::lock_guard lock(m_canvas.m_monitor.mutex);
        --m_canvas.m_busy;
    }

private:
    CRecordingCanvas& m_canvas;
};

void CRecordingCanvas::Record(const std::string& text) {
    // Called under the monitor's lock.
    m_log.push_back({m_clock.NowLocked(), text});
}

void CRecordingCanvas::Paint(const PixelRect& rect, uint32_t value) {
    for (int y = std::max(rect.top, 0); y < std::min(rect.bottom, m_size.height); ++y)
        for (int x = std::max(rect.left, 0); x < std::min(rect.right, m_size.width); ++x)
            m_pixels[static_cast<std::size_t>(y) * m_size.width + x] = value;
}

void CRecordingCanvas::Bind(CPictureExWnd* control) { bound = control; }

void CRecordingCanvas::ResizeWindow(CanvasSize size) { windowSize = size; }

Colour CRecordingCanvas::GetSysColor(SystemColour which) const {
    return which == SystemColour::Menu ? kMenuColour : kButtonFace;
}

void CRecordingCanvas::Invalidate() {
    std::lock_guard lock(m_monitor.mutex);
    ++m_invalidations;
}

bool CRecordingCanvas::MakeCanvas(CanvasSize size) {
    CCall call(*this);
    std::lock_guard lock(m_monitor.mutex);
    if (makeFails) return false;
    m_size = size;
    m_pixels.assign(static_cast<std::size_t>(size.width) * size.height, 0);
    canvasExists = true;
    Record("make " + std::to_string(size.width) + "x" + std::to_string(size.height));
    return true;
}

void CRecordingCanvas::ReleaseCanvas() {
    CCall call(*this);
    std::lock_guard lock(m_monitor.mutex);
    canvasExists = false;
    Record("release");
}

void CRecordingCanvas::Fill(const PixelRect& rect, Colour colour) {
    CCall call(*this);
    std::lock_guard lock(m_monitor.mutex);
    Paint(rect, colour);
    Record("fill " + RectText(rect) + " " + ColourText(colour));
}

bool CRecordingCanvas::Draw(const IDecodedPicture& picture, const PixelRect& rect) {
    CCall call(*this);
    std::unique_lock lock(m_monitor.mutex);
    const int number = static_cast<const CNumberedPicture&>(picture).number;
    m_drawing = true;
    if (m_holdDraws) {
        m_drawHeld = true;
        m_monitor.Notify();
        m_monitor.changed.wait(lock, [&] { return !m_holdDraws; });
        m_drawHeld = false;
    }
    Paint(rect, kDrawn + static_cast<uint32_t>(number));
    Record("draw " + std::to_string(number) + " " + RectText(rect));
    m_drawing = false;
    return true;
}

bool CRecordingCanvas::SaveArea(const PixelRect& rect) {
    CCall call(*this);
    std::lock_guard lock(m_monitor.mutex);
    m_saved.clear();
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) m_saved.push_back(Pixel(x, y));
    m_savedRect = rect;
    Record("save " + RectText(rect));
    return true;
}

void CRecordingCanvas::RestoreArea(const PixelRect& rect) {
    CCall call(*this);
    std::lock_guard lock(m_monitor.mutex);
    std::size_t i = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            if (i < m_saved.size()) m_pixels[static_cast<std::size_t>(y) * m_size.width + x] = m_saved[i++];
    m_saved.clear();
    Record("restore " + RectText(rect));
}

void CRecordingCanvas::ReleaseSavedArea() {
    CCall call(*this);
    std::lock_guard lock(m_monitor.mutex);
    m_saved.clear();
    Record("release saved");
}

void CRecordingCanvas::CopyToWindow(const PixelRect& source) {
    CCall call(*this);
    std::lock_guard lock(m_monitor.mutex);
    Record("copy " + RectText(source));
}

std::vector<CRecordingCanvas::Entry> CRecordingCanvas::Log() {
    std::lock_guard lock(m_monitor.mutex);
    return m_log;
}

std::vector<std::string> CRecordingCanvas::LogTexts() {
    std::vector<std::string> texts;
    for (const Entry& entry : Log()) texts.push_back(entry.text);
    return texts;
}

void CRecordingCanvas::ClearLog() {
    std::lock_guard lock(m_monitor.mutex);
    m_log.clear();
}

uint32_t CRecordingCanvas::Pixel(int x, int y) {
    // Callers either hold the monitor's lock or read a parked canvas.
    return m_pixels.at(static_cast<std::size_t>(y) * m_size.width + x);
}

int CRecordingCanvas::Faults() {
    std::lock_guard lock(m_monitor.mutex);
    return m_faults;
}

int CRecordingCanvas::Invalidations() {
    std::lock_guard lock(m_monitor.mutex);
    return m_invalidations;
}

void CRecordingCanvas::ReleaseDraws() {
    std::lock_guard lock(m_monitor.mutex);
    m_holdDraws = false;
    m_monitor.Notify();
}

bool CRecordingCanvas::AwaitHeldDraw() {
    return m_monitor.Await([&] { return m_drawHeld; });
}

void CRecordingCanvas::PictureReleased() {
    std::lock_guard lock(m_monitor.mutex);
    // Nothing the thread draws may die under it.
    if (m_drawing) ++m_faults;
}

}  // namespace morvane::test
