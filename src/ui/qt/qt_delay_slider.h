#pragma once
// The delay slider: a horizontal slider that reports its movements with the
// scroll codes of a trackbar and paints a selection band (the fill
// indicator) on its channel.

#include <QRectF>
#include <QSlider>
#include <QStyleOptionSlider>
#include <cstdint>
#include <functional>

namespace morvane {

class CQtDelaySlider final : public QSlider {
public:
    // Receives the scroll code of every movement, as WM_HSCROLL carries it.
    using ScrollHandler = std::function<void(uint32_t code)>;

    explicit CQtDelaySlider(QWidget* parent);

    void SetScrollHandler(ScrollHandler handler) { m_onScroll = std::move(handler); }
    // A trackbar's range also sets its page size: a fifth of the span.
    void SetTrackbarRange(int min, int max);
    void SetSelection(int start, int end, bool redraw);
    void SetSelectionStart(int start, bool redraw);
    int SelectionStart() const { return m_selStart; }
    int SelectionEnd() const { return m_selEnd; }
    // Where the band is painted, in widget pixels; empty when there is none.
    QRectF BandRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void OnAction(int action);
    void Notify(uint32_t code);
    double PixelOf(const QStyleOptionSlider& option, double value) const;
    QRect ChannelRect(const QStyleOptionSlider& option) const;

    ScrollHandler m_onScroll;
    int m_selStart = 0;
    int m_selEnd = 0;
    bool m_mouseTracking = false;  // a button went down on the slider
    bool m_dragged = false;        // ... and the thumb has been dragged since
    bool m_keyPending = false;     // a key moved the slider; its release ends the move
    bool m_inWheel = false;
};

}  // namespace morvane
