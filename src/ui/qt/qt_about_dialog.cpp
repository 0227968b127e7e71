#include "ui/qt/qt_about_dialog.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include "resource.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_about_resources.h"
#include "ui/qt/qt_picture_decoder.h"
#include "ui/qt/qt_picture_window.h"

namespace morvane {
namespace {

enum class AboutControlKind { DefaultButton, GroupFrame, Picture, Text, WebButton };

struct AboutControl {
    int id;  // -1: no id of its own
    AboutControlKind kind;
    const char* text;
    int x, y, width, height;  // dialog units
};

// From the template source that the Windows resource script is made from
// too. Template order is the tab order and the stacking order (first on top).
constexpr AboutControl kAboutControls[] = {
#define DIALOG_BEGIN(...)
#define DIALOG_CONTROL(id, kind, className, text, x, y, width, height, style, exStyle) \
    {id, AboutControlKind::kind, text, x, y, width, height},
#define DIALOG_END()
#include "dialogs/about_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END
};

struct AboutBox {
    const char* caption;
    int width, height;  // dialog units
};

#define DIALOG_BEGIN(id, caption, width, height, ...) constexpr AboutBox kAboutBox{caption, width, height};
#define DIALOG_CONTROL(...)
#define DIALOG_END()
#include "dialogs/about_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END

QString FromText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CQtAboutDialog::CQtAboutDialog(QWidget* owner) : QDialog(owner) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(kAboutBox.caption));
    setModal(true);
    BuildControls();
}

void CQtAboutDialog::BuildControls() {
    const CDialogUnits units(font());
    setFixedSize(units.Size(kAboutBox.width, kAboutBox.height));
    QWidget* previousTabStop = nullptr;
    for (const AboutControl& control : kAboutControls) {
        const int id = control.id;
        QWidget* widget = nullptr;
        switch (control.kind) {
            case AboutControlKind::DefaultButton:
            case AboutControlKind::WebButton: {
                QString caption = QString::fromUtf8(control.text);
                if (control.kind == AboutControlKind::WebButton) caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
                auto* button = new QPushButton(caption, this);
                button->setDefault(control.kind == AboutControlKind::DefaultButton);
                button->setFocusPolicy(Qt::StrongFocus);
                QObject::connect(button, &QPushButton::clicked, this,
                                 [this, id] { Send(WM_COMMAND, MakeCommand(id, BN_CLICKED)); });
                widget = button;
                break;
            }
            case AboutControlKind::GroupFrame: {
                auto* frame = new QGroupBox(this);
                frame->setAttribute(Qt::WA_TransparentForMouseEvents);
                frame->setFocusPolicy(Qt::NoFocus);
                widget = frame;
                break;
            }
            case AboutControlKind::Picture:
                // Takes no clicks of its own: a click on the picture does nothing.
                m_picture = new CQtPictureWindow(this);
                widget = m_picture;
                break;
            case AboutControlKind::Text: {
                auto* label = new QLabel(QString::fromUtf8(control.text), this);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap(true);
                widget = label;
                break;
            }
        }
        widget->setGeometry(units.Rect(control.x, control.y, control.width, control.height));
        widget->lower();
        if (id != -1) m_controls[id] = widget;
        if ((widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
            if (previousTabStop != nullptr)
                QWidget::setTabOrder(previousTabStop, widget);
            else
                m_firstTabStop = widget;
            previousTabStop = widget;
        }
    }
}

void CQtAboutDialog::Initialise(IDialogHandler& handler) {
    m_handler = &handler;
    bool handled = false;
    // Nonzero: the first tab stop, OK, takes the focus.
    if (m_handler->HandleMessage(WM_INITDIALOG, 0, 0, &handled) != 0 && m_firstTabStop != nullptr)
        m_firstTabStop->setFocus(Qt::OtherFocusReason);
}

QWidget* CQtAboutDialog::Control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CQtAboutDialog::Send(uint32_t msg, uintptr_t wParam) {
    if (m_handler == nullptr) return;
    bool handled = false;
    m_handler->HandleMessage(msg, wParam, 0, &handled);
}

void CQtAboutDialog::reject() {
    if (m_handler == nullptr) {
        QDialog::reject();
        return;
    }
    Send(WM_COMMAND, MakeCommand(IDCANCEL, BN_CLICKED));
}

void CQtAboutDialog::CenterWindow() {
    QRect area;
    if (const QWidget* parent = parentWidget(); parent != nullptr && parent->isVisible()) {
        area = parent->window()->frameGeometry();
    } else {
        const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
        if (screen == nullptr) return;
        area = screen->availableGeometry();
    }
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

IPictureCanvas* CQtAboutDialog::PictureControl(int id) { return id == IDC_ABOUT_PICTURE ? m_picture : nullptr; }

std::string CQtAboutDialog::GetDlgItemText(int id, std::size_t maxChars) {
    QString text;
    if (auto* label = qobject_cast<QLabel*>(Control(id)))
        text = label->text();
    else if (auto* button = qobject_cast<QPushButton*>(Control(id)))
        text = button->text();
    if (maxChars == 0) return {};
    // Whole characters only, below the buffer's size.
    QByteArray bytes = text.toUtf8();
    while (static_cast<std::size_t>(bytes.size()) >= maxChars) {
        text.chop(1);
        bytes = text.toUtf8();
    }
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void CQtAboutDialog::SetDlgItemText(int id, const std::string& text) {
    if (auto* label = qobject_cast<QLabel*>(Control(id)))
        label->setText(FromText(text));
    else if (auto* button = qobject_cast<QPushButton*>(Control(id)))
        button->setText(FromText(text));
}

void CQtAboutDialog::OpenWebPage(const std::string& address) {
    QDesktopServices::openUrl(QUrl(FromText(address)));
}

int RunQtAboutDialog(QWidget* owner) {
    // Declared in this order so that the logic, with its picture control,
    // goes before the widgets it draws into.
    CQtAboutDialog dialog(owner);
    CQtProgramResources resources;
    CQtPictureDecoder decoder;
    CAboutDlg about(dialog, resources, decoder, SteadyWaitClock());
    dialog.Initialise(about);
    return dialog.exec();
}

}  // namespace morvane
