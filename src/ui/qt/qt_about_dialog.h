#pragma once
// The About box on Qt widgets: a modal dialog laid out from its template,
// driven by the portable About logic through IAboutHost, with the animated
// picture in the placeholder's place.

#include <QDialog>
#include <map>

#include "ui/about_dlg.h"

namespace morvane {

class CQtPictureWindow;

class CQtAboutDialog final : public QDialog, public IAboutHost {
public:
    explicit CQtAboutDialog(QWidget* owner);

    // Runs WM_INITDIALOG through `handler`, which from then on gets the
    // dialog's commands; it must outlive the dialog's run.
    void Initialise(IDialogHandler& handler);
    // A control by id; null for an unknown id.
    QWidget* Control(int id) const;

    // IAboutHost
    void CenterWindow() override;
    IPictureCanvas* PictureControl(int id) override;
    std::string GetDlgItemText(int id, std::size_t maxChars) override;
    void SetDlgItemText(int id, const std::string& text) override;
    void EndDialog(int result) override { done(result); }
    void OpenWebPage(const std::string& address) override;

protected:
    // Escape and the close box: the cancel command.
    void reject() override;

private:
    void BuildControls();
    void Send(uint32_t msg, uintptr_t wParam);

    std::map<int, QWidget*> m_controls;
    CQtPictureWindow* m_picture = nullptr;
    QWidget* m_firstTabStop = nullptr;
    IDialogHandler* m_handler = nullptr;
};

// Opens the About box over `owner` and returns when it is closed, with the
// code it was ended with.
int RunQtAboutDialog(QWidget* owner);

}  // namespace morvane
