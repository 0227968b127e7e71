#pragma once
// The picture control's window on Qt: a widget that takes the placeholder's
// place, with its canvas as an image. The animation thread draws into the
// canvas; the widget paints it on the UI thread, and the thread's requests
// to repaint reach the widget as queued calls.

#include <QImage>
#include <QWidget>

#include "ui/picture_canvas.h"

namespace morvane {

class CQtPictureWindow final : public QWidget, public IPictureCanvas {
public:
    explicit CQtPictureWindow(QWidget* parent);
    // Stops the control's thread before the canvas goes.
    ~CQtPictureWindow() override;

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CPictureExWnd* m_control = nullptr;
    QImage m_canvas;
    QImage m_saved;
    // Only inside paintEvent.
    bool m_painting = false;
};

}  // namespace morvane
