#include "ui/qt/qt_delay_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

#include "engine/delay_engine.h"
#include "ui/dialog_host.h"

namespace morvane {

CQtDelaySlider::CQtDelaySlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(1);
    setSingleStep(1);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) { OnAction(action); });
}

void CQtDelaySlider::SetTrackbarRange(int min, int max) {
    setRange(min, max);
    setPageStep(std::max(1, (max - min) / 5));
}

void CQtDelaySlider::SetSelection(int start, int end, bool redraw) {
    m_selStart = start;
    m_selEnd = end;
    if (redraw) update();
}

void CQtDelaySlider::SetSelectionStart(int start, bool redraw) {
    m_selStart = start;
    if (redraw) update();
}

void CQtDelaySlider::Notify(uint32_t code) {
    if (m_onScroll) m_onScroll(code);
}

// The slider's own actions, mapped to a trackbar's codes. The position has
// already moved when this runs, so the handler reads the new one.
void CQtDelaySlider::OnAction(int action) {
    switch (action) {
        case SliderSingleStepAdd: Notify(TB_LINEDOWN); break;
        case SliderSingleStepSub: Notify(TB_LINEUP); break;
        case SliderPageStepAdd: Notify(TB_PAGEDOWN); break;
        case SliderPageStepSub: Notify(TB_PAGEUP); break;
        case SliderToMinimum: Notify(TB_TOP); break;
        case SliderToMaximum: Notify(TB_BOTTOM); break;
        case SliderMove:
            // The wheel moves the slider too; wheelEvent reports that itself.
            if (isSliderDown() && !m_inWheel) {
                m_dragged = true;
                Notify(kTbThumbTrack);
            }
            break;
        default: break;
    }
}

// A trackbar's keys: left/up and page up lower the position, right/down
// and page down raise it, Home and End go to the ends. The move ends when
// the key is let go.
void CQtDelaySlider::keyPressEvent(QKeyEvent* event) {
    SliderAction action = SliderNoAction;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up: action = SliderSingleStepSub; break;
        case Qt::Key_Right:
        case Qt::Key_Down: action = SliderSingleStepAdd; break;
        case Qt::Key_PageUp: action = SliderPageStepSub; break;
        case Qt::Key_PageDown: action = SliderPageStepAdd; break;
        case Qt::Key_Home: action = SliderToMinimum; break;
        case Qt::Key_End: action = SliderToMaximum; break;
        default: QSlider::keyPressEvent(event); return;
    }
    m_keyPending = true;
    triggerAction(action);
    event->accept();
}

void CQtDelaySlider::keyReleaseEvent(QKeyEvent* event) {
    if (m_keyPending && !event->isAutoRepeat()) {
        m_keyPending = false;
        Notify(kTbEndTrack);
        event->accept();
        return;
    }
    QSlider::keyReleaseEvent(event);
}

void CQtDelaySlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton) {
        m_mouseTracking = true;
        m_dragged = false;
    }
    QSlider::mousePressEvent(event);
}

// However the button was used (thumb dragged, channel clicked), letting it
// go ends the move; a drag reports its final position first.
void CQtDelaySlider::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (!m_mouseTracking || event->buttons() != Qt::NoButton) return;
    m_mouseTracking = false;
    if (m_dragged) Notify(TB_THUMBPOSITION);
    m_dragged = false;
    Notify(kTbEndTrack);
}

// A wheel step has no release to wait for: it ends at once.
void CQtDelaySlider::wheelEvent(QWheelEvent* event) {
    const int before = sliderPosition();
    m_inWheel = true;
    QSlider::wheelEvent(event);
    m_inWheel = false;
    const int after = sliderPosition();
    if (after == before) return;
    Notify(after < before ? TB_LINEUP : TB_LINEDOWN);
    Notify(kTbEndTrack);
}

// Linear between the thumb's centres at the two ends of the range, so that
// a selection reaching below the minimum still starts left of it.
double CQtDelaySlider::PixelOf(const QStyleOptionSlider& option, double value) const {
    QStyleOptionSlider at = option;
    at.sliderPosition = minimum();
    const double first =
        style()->subControlRect(QStyle::CC_Slider, &at, QStyle::SC_SliderHandle, this).center().x() + 0.5;
    at.sliderPosition = maximum();
    const double last =
        style()->subControlRect(QStyle::CC_Slider, &at, QStyle::SC_SliderHandle, this).center().x() + 0.5;
    if (maximum() == minimum()) return first;
    return first + (value - minimum()) * (last - first) / (maximum() - minimum());
}

// The style's channel runs the whole width of the widget; a trackbar's
// ends just beyond the thumb's centre at either end of the range, which
// keeps it clear of the delay box beside it.
QRect CQtDelaySlider::ChannelRect(const QStyleOptionSlider& option) const {
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect thumb = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int inset = std::max(0, thumb.width() / 2 - 3);
    return groove.adjusted(inset, 0, -inset, 0);
}

QRectF CQtDelaySlider::BandRect() const {
    if (m_selEnd <= m_selStart) return {};
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRectF groove = ChannelRect(option);
    // Inside the channel's border.
    const double inset = std::min(2.0, groove.height() / 4);
    const double left = std::max(groove.left() + inset, PixelOf(option, m_selStart));
    const double right = std::min(groove.right() + 1 - inset, PixelOf(option, m_selEnd));
    if (right <= left) return {};
    return QRectF(QPointF(left, groove.top() + inset), QPointF(right, groove.bottom() + 1 - inset));
}

// The style fills the channel up to the thumb on its own; painting the
// channel as if the thumb stood at the minimum leaves room for the band,
// and the thumb goes on top of it.
void CQtDelaySlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);

    QStyleOptionSlider ticks = option;
    ticks.subControls = QStyle::SC_SliderTickmarks;
    ticks.activeSubControls = QStyle::SC_None;
    style()->drawComplexControl(QStyle::CC_Slider, &ticks, &painter, this);

    QStyleOptionSlider channel = option;
    channel.subControls = QStyle::SC_SliderGroove;
    channel.activeSubControls = QStyle::SC_None;
    channel.sliderPosition = minimum();
    channel.sliderValue = minimum();
    const QRect span = ChannelRect(option);
    channel.rect = QRect(span.left(), option.rect.top(), span.width(), option.rect.height());
    // The style still fills a sliver up to a thumb at the minimum; made
    // transparent, nothing of its fill shows.
    channel.palette.setColor(QPalette::Highlight, Qt::transparent);
    style()->drawComplexControl(QStyle::CC_Slider, &channel, &painter, this);

    const QRectF band = BandRect();
    if (!band.isEmpty()) painter.fillRect(band, palette().color(QPalette::Highlight));

    QStyleOptionSlider thumb = option;
    thumb.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &thumb, &painter, this);
}

}  // namespace morvane
