#pragma once
// The main window's top-level widget: a fixed-size window with a minimise
// button and no maximise button, and the dialog manager's keys: Esc and the
// close box cancel, Enter clicks the push button that has the focus and is
// otherwise the OK command.

#include <QWidget>
#include <functional>

namespace morvane {

class CQtMainWindow final : public QWidget {
public:
    CQtMainWindow();

    void SetCancelHandler(std::function<void()> handler) { m_onCancel = std::move(handler); }
    void SetOkHandler(std::function<void()> handler) { m_onOk = std::move(handler); }
    // After this the window closes for good and cancels nothing more.
    void Destroy();
    bool IsDestroyed() const { return m_destroyed; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> m_onCancel;
    std::function<void()> m_onOk;
    bool m_destroyed = false;
};

}  // namespace morvane
