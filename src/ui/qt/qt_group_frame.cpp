#include "ui/qt/qt_group_frame.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

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
    // An etched line; the style's own group box frame would start a whole
    // caption height further down.
    qDrawShadeRect(&painter, rect().adjusted(0, fontMetrics().height() / 2, 0, 0), palette(), true, 1, 0);

    const QRect title = TitleRect();
    painter.fillRect(title, palette().window());
    style()->drawItemText(&painter, title, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                          m_title, QPalette::WindowText);
}

}  // namespace morvane
