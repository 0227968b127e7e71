#include "ui/qt/qt_main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace morvane {

CQtMainWindow::CQtMainWindow() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
}

void CQtMainWindow::Destroy() {
    m_destroyed = true;
    hide();
}

// Keys the controls leave alone come up to the window.
void CQtMainWindow::keyPressEvent(QKeyEvent* event) {
    if (m_destroyed || (event->modifiers() & ~Qt::KeypadModifier) != 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Escape:
            if (m_onCancel) m_onCancel();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Push buttons without autoDefault ignore Enter; the dialog
            // manager clicks the one that has the focus.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget());
                button != nullptr && !button->isCheckable()) {
                button->click();
            } else if (m_onOk) {
                m_onOk();
            }
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

// The close box is the cancel command; the window goes only when the
// handler destroys it.
void CQtMainWindow::closeEvent(QCloseEvent* event) {
    if (!m_destroyed && m_onCancel) m_onCancel();
    event->setAccepted(m_destroyed);
}

}  // namespace morvane
