#include "ui/qt/qt_group_frame.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace morvane {

CQtGroupFrame::CQtGroupFrame(const QString& title, QWidget* parent) : QWidget(parent), m_title(title) {
    // Frames lie over the controls they surround; clicks go through.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(title);
}

QRect CQtGroupFrame::TitleRect() const {
    const QFontMetrics metrics = fontMetrics();
    const int pad = 2;
    const int left = metrics.averageCharWidth() + 1;
    return {left, 0, metrics.horizontalAdvance(m_title) + 2 * pad, metrics.height()};
}

void CQtGroupFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, fontMetrics().height() / 2, 0, 0);
    frame.lineWidth = 1;
    frame.midLineWidth = 0;
    style()->drawPrimitive(QStyle::PE_FrameGroupBox, &frame, &painter, this);

    const QRect title = TitleRect();
    painter.fillRect(title, palette().window());
    style()->drawItemText(&painter, title, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                          m_title, QPalette::WindowText);
}

}  // namespace morvane
