#include "ui/picture_ex_wnd.h"

#include <system_error>
#include <utility>

namespace morvane {

namespace {

// Disposal methods the loop acts on; every other value leaves the frame.
constexpr int32_t kRestoreToBackground = 2;
constexpr int32_t kRestoreToPrevious = 3;

constexpr std::chrono::milliseconds kShortFrameTime{100};

}  // namespace

std::chrono::milliseconds FrameTime(uint32_t delay) {
    // A frame without a control block carries all bits as its delay; taken
    // at its word it would hold the animation for 49.7 days.
    if (delay == kNoFrameDelay || delay < 5) return kShortFrameTime;
    return std::chrono::milliseconds{static_cast<int64_t>(delay) * 10};
}

CPictureExWnd::CPictureExWnd(IPictureDecoder& decoder, IWaitClock& clock)
    : m_decoder(decoder), m_exitEvent(clock.MakeEvent()), m_threadEnded(clock.MakeEvent()) {}

CPictureExWnd::~CPictureExWnd() {
    ClearPicture();
    if (m_window != nullptr) m_window->Bind(nullptr);
}

void CPictureExWnd::AttachToControl(IPictureCanvas* window) {
    if (window == nullptr || window == m_window) return;
    if (m_window != nullptr) HandleDestroy();
    m_window = window;
    m_window->Bind(this);
}

bool CPictureExWnd::LoadFromGlobal(std::span<const uint8_t> data) {
    ClearPicture();
    return Load(::morvane::LoadFromGlobal(data));
}

bool CPictureExWnd::LoadFromFile(const std::filesystem::path& path) {
    ClearPicture();
    return Load(::morvane::LoadFromFile(path));
}

bool CPictureExWnd::LoadFromResource(const IProgramResources& resources, const ResourceName& name,
                                     std::string_view type) {
    ClearPicture();
    return Load(::morvane::LoadFromResource(resources, name, type));
}

bool CPictureExWnd::Load(GifLoad load) {
    m_isGif = load.isGif;
    if (load.isGif) m_canvasSize = load.canvasSize;
    switch (load.kind) {
        case GifLoadKind::Failed:
            return false;
        case GifLoadKind::StillPicture:
            m_stillPicture = m_decoder.Decode(load.stillData);
            if (m_stillPicture == nullptr) return false;
            // A GIF keeps its logical screen; anything else is as large as
            // it shows itself.
            if (!load.isGif) m_canvasSize = m_stillPicture->Size();
            return SetupCanvas(m_canvasSize);
        case GifLoadKind::Frames:
            m_frames.reserve(load.frames.size());
            for (const FrameEntry& entry : load.frames) {
                auto picture = m_decoder.Decode(entry.picture);
                // A frame the decoder refuses is left out of the animation.
                if (picture == nullptr) continue;
                m_frames.push_back({std::move(picture),
                                    {entry.left, entry.top, entry.left + entry.width, entry.top + entry.height},
                                    entry.delay,
                                    entry.disposal});
            }
            if (m_frames.empty()) return false;
            return SetupCanvas(m_canvasSize);
    }
    return false;
}

bool CPictureExWnd::SetupCanvas(CanvasSize size) {
    if (m_window == nullptr) return false;
    m_window->ResizeWindow(size);
    std::lock_guard lock(m_canvasLock);
    if (!m_window->MakeCanvas(size)) return false;
    m_backColor = m_window->GetSysColor(SystemColour::ButtonFace);
    // The first fill is the menu colour; the back colour only shows where a
    // frame is disposed of.
    m_window->Fill({0, 0, size.width, size.height}, m_window->GetSysColor(SystemColour::Menu));
    m_ready = true;
    return true;
}

bool CPictureExWnd::StartAnimation() {
    if (!m_ready || m_window == nullptr) return false;
    if (IsAnimated()) {
        if (m_thread.joinable()) {
            // One thread at most: a running one goes on; one that outlasted
            // its stop has been told to end and is waited for.
            if (!m_exitRequested) return false;
            EndThread();
        }
        m_threadEnded->Reset();
        try {
            m_thread = std::thread(&CPictureExWnd::AnimationThreadProc, this);
        } catch (const std::system_error&) {
            // No thread: the control stays ready and still.
        }
        return false;
    }
    if (m_stillPicture != nullptr) {
        bool drawn;
        {
            std::lock_guard lock(m_canvasLock);
            drawn = m_window->Draw(*m_stillPicture, WholeCanvas());
        }
        if (drawn) m_window->Invalidate();
        return drawn;
    }
    return false;
}

void CPictureExWnd::StopAnimation() {
    // The flag before the event: a thread woken by the event must see it.
    m_playing = false;
    m_exitRequested = true;
    m_exitEvent->Set();
    if (m_thread.joinable()) {
        // A thread that does not end in time is left running with its stop
        // request standing, so that it ends at its next look at the flag.
        if (!m_threadEnded->Wait(kStopWait)) return;
        m_thread.join();
    }
    m_exitEvent->Reset();
    m_exitRequested = false;
}

void CPictureExWnd::EndThread() {
    StopAnimation();
    if (!m_thread.joinable()) return;
    m_threadEnded->Wait(kWaitForever);
    m_thread.join();
    m_exitEvent->Reset();
    m_exitRequested = false;
}

void CPictureExWnd::ClearPicture() {
    EndThread();
    m_stillPicture.reset();
    m_frames.clear();
    if (m_window != nullptr) {
        std::lock_guard lock(m_canvasLock);
        if (m_hasSavedArea) m_window->ReleaseSavedArea();
        m_window->ReleaseCanvas();
    }
    m_hasSavedArea = false;
    m_viewRect = {};
    m_ready = false;
    m_isGif = false;
    m_backColor = kWhite;
    m_frameIndex = 0;
}

void CPictureExWnd::HandleDestroy() {
    EndThread();
    if (m_window == nullptr) return;
    {
        std::lock_guard lock(m_canvasLock);
        if (m_hasSavedArea) m_window->ReleaseSavedArea();
        m_window->ReleaseCanvas();
    }
    m_hasSavedArea = false;
    m_ready = false;
    m_window->Bind(nullptr);
    m_window = nullptr;
}

void CPictureExWnd::SetBackColor(Colour colour) {
    if (!m_ready || m_window == nullptr) return;
    std::lock_guard lock(m_canvasLock);
    m_backColor = colour;
    m_window->Fill(WholeCanvas(), colour);
}

intptr_t CPictureExWnd::HandlePaint() {
    // Without a canvas there is nothing to show.
    if (!m_ready || m_window == nullptr) return 0;
    std::lock_guard lock(m_canvasLock);
    m_window->CopyToWindow(m_viewRect.Width() > 0 ? m_viewRect : WholeCanvas());
    return 0;
}

void CPictureExWnd::AnimationThreadProc() {
    m_playing = true;
    AnimationLoop();
    m_playing = false;
    m_threadEnded->Set();
}

void CPictureExWnd::AnimationLoop() {
    // Undoes the frame at which an earlier run stopped; on a first run it
    // clears the first frame's area, or finds nothing saved.
    {
        std::lock_guard lock(m_canvasLock);
        DisposeFrame(m_frames[m_frameIndex]);
    }
    if (m_exitRequested) return;
    for (;;) {
        const Frame& frame = m_frames[m_frameIndex];
        bool drawn;
        {
            std::lock_guard lock(m_canvasLock);
            if (frame.disposal == kRestoreToPrevious) m_hasSavedArea = m_window->SaveArea(frame.rect);
            drawn = m_window->Draw(*frame.picture, frame.rect);
        }
        if (drawn) m_window->Invalidate();
        if (m_exitRequested) return;
        m_exitEvent->Wait(FrameTime(frame.delay));
        if (m_exitRequested) return;
        {
            std::lock_guard lock(m_canvasLock);
            DisposeFrame(frame);
            if (++m_frameIndex == m_frames.size()) {
                m_frameIndex = 0;
                m_window->Fill(WholeCanvas(), m_backColor);
            }
        }
        if (m_exitRequested) return;
    }
}

void CPictureExWnd::DisposeFrame(const Frame& frame) {
    if (frame.disposal == kRestoreToBackground) {
        m_window->Fill(frame.rect, m_backColor);
    } else if (frame.disposal == kRestoreToPrevious && m_hasSavedArea) {
        m_window->RestoreArea(frame.rect);
        m_hasSavedArea = false;
    }
}

}  // namespace morvane
