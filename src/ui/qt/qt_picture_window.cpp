#include "ui/qt/qt_picture_window.h"

#include <QMetaObject>
#include <QPainter>

#include "ui/picture_ex_wnd.h"
#include "ui/qt/qt_picture_decoder.h"

namespace morvane {
namespace {

QRect ToQRect(const PixelRect& rect) { return {rect.left, rect.top, rect.Width(), rect.Height()}; }

QColor ToQColor(Colour colour) {
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

Colour FromQColor(const QColor& colour) {
    return static_cast<Colour>(colour.red()) | (static_cast<Colour>(colour.green()) << 8) |
           (static_cast<Colour>(colour.blue()) << 16);
}

}  // namespace

CQtPictureWindow::CQtPictureWindow(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

CQtPictureWindow::~CQtPictureWindow() {
    if (m_control != nullptr) m_control->HandleDestroy();
}

void CQtPictureWindow::ResizeWindow(CanvasSize size) { resize(size.width, size.height); }

Colour CQtPictureWindow::GetSysColor(SystemColour which) const {
    // Qt paints dialogs and their buttons with Window and Button; menus
    // have no role of their own and take the window's.
    return FromQColor(palette().color(which == SystemColour::ButtonFace ? QPalette::Button : QPalette::Window));
}

void CQtPictureWindow::Invalidate() {
    // Any thread: the repaint is asked for on the widget's own thread, and
    // dropped with the widget if it has gone by then.
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

bool CQtPictureWindow::MakeCanvas(CanvasSize size) {
    if (size.width <= 0 || size.height <= 0) return false;
    QImage canvas(size.width, size.height, QImage::Format_RGB32);
    if (canvas.isNull()) return false;
    m_canvas = std::move(canvas);
    return true;
}

void CQtPictureWindow::ReleaseCanvas() {
    m_canvas = QImage();
    m_saved = QImage();
}

void CQtPictureWindow::Fill(const PixelRect& rect, Colour colour) {
    if (m_canvas.isNull()) return;
    QPainter painter(&m_canvas);
    painter.fillRect(ToQRect(rect), ToQColor(colour));
}

bool CQtPictureWindow::Draw(const IDecodedPicture& picture, const PixelRect& rect) {
    const auto* qtPicture = dynamic_cast<const CQtPicture*>(&picture);
    if (qtPicture == nullptr || m_canvas.isNull()) return false;
    const QImage& image = qtPicture->Image();
    const QRect target = ToQRect(rect);
    // A frame cut from an animation keeps the animation's logical screen,
    // and Qt's reader places the image on it: the frame is the part under
    // its own rectangle. Anything else is scaled into the rectangle whole.
    const QRect source = image.size() != target.size() && image.rect().contains(target) ? target : image.rect();
    QPainter painter(&m_canvas);
    painter.drawImage(target, image, source);
    return true;
}

bool CQtPictureWindow::SaveArea(const PixelRect& rect) {
    if (m_canvas.isNull()) return false;
    m_saved = m_canvas.copy(ToQRect(rect));
    return !m_saved.isNull();
}

void CQtPictureWindow::RestoreArea(const PixelRect& rect) {
    if (!m_canvas.isNull() && !m_saved.isNull()) {
        QPainter painter(&m_canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(rect.left, rect.top), m_saved);
    }
    m_saved = QImage();
}

void CQtPictureWindow::ReleaseSavedArea() { m_saved = QImage(); }

void CQtPictureWindow::CopyToWindow(const PixelRect& source) {
    if (!m_painting || m_canvas.isNull()) return;
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_canvas, ToQRect(source));
}

void CQtPictureWindow::paintEvent(QPaintEvent* /*event*/) {
    if (m_control == nullptr) return;
    m_painting = true;
    m_control->HandlePaint();
    m_painting = false;
}

}  // namespace morvane
