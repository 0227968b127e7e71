#include "ui/qt/qt_dialog_host.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <algorithm>

#include "resource.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/main_dlg_template.h"
#include "ui/qt/qt_about_dialog.h"
#include "ui/qt/qt_delay_slider.h"
#include "ui/qt/qt_group_frame.h"
#include "ui/qt/qt_icons.h"
#include "ui/qt/qt_limited_edit.h"
#include "ui/qt/qt_main_window.h"

namespace morvane {
namespace {

constexpr int kIdOk = 1;
constexpr intptr_t kShellFileNotFound = 2;
constexpr intptr_t kShellAccessDenied = 5;
constexpr intptr_t kShellStarted = 42;  // any value above 32 means success
constexpr QSize kButtonIconSize(32, 32);

QString FromText(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

CQtDialogHost::CQtDialogHost()
    : m_waveWindow([this](uint32_t msg, uintptr_t device, WAVEHDR* header) {
          // Whatever still comes after the window has gone is dropped.
          Send(msg, device, reinterpret_cast<intptr_t>(header));
      }) {}

CQtDialogHost::~CQtDialogHost() = default;

QWidget* CQtDialogHost::Window() const { return m_window.get(); }

QWidget* CQtDialogHost::Control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

template <typename T>
T* CQtDialogHost::Find(int id) const {
    // dynamic_cast: the slider and the edit box are our own classes,
    // without meta-objects of their own.
    return dynamic_cast<T*>(Control(id));
}

QWidget* CQtDialogHost::ModalOwner() const {
    return m_window != nullptr && !m_window->IsDestroyed() ? m_window.get() : nullptr;
}

intptr_t CQtDialogHost::Send(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (m_handler == nullptr || m_window == nullptr || m_window->IsDestroyed()) return 0;
    bool handled = false;
    return m_handler->HandleMessage(msg, wParam, lParam, &handled);
}

bool CQtDialogHost::CreateDialog(IDialogHandler& handler) {
    if (m_window != nullptr) return false;
    BuildControls();
    m_handler = &handler;
    // Nonzero: the first control that takes the focus gets it.
    if (Send(WM_INITDIALOG, 0, 0) != 0) {
        const DialogTemplate& dialog = MainDialogTemplate();
        for (const ControlTemplate& control : dialog.controls) {
            QWidget* widget = Control(control.id);
            if (widget != nullptr && (widget->focusPolicy() & Qt::TabFocus) != 0) {
                widget->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    return true;
}

void CQtDialogHost::BuildControls() {
    const DialogTemplate& dialog = MainDialogTemplate();
    m_window = std::make_unique<CQtMainWindow>();
    m_window->setWindowTitle(QString::fromUtf8(dialog.caption));
    m_window->SetCancelHandler([this] { Send(WM_COMMAND, MakeCommand(IDCANCEL, BN_CLICKED), 0); });
    m_window->SetOkHandler([this] { Send(WM_COMMAND, MakeCommand(kIdOk, BN_CLICKED), 0); });
    const CDialogUnits units(m_window->font());
    m_window->setFixedSize(units.Size(dialog.width, dialog.height));

    QWidget* parent = m_window.get();
    QWidget* previousTabStop = nullptr;
    for (const ControlTemplate& control : dialog.controls) {
        const int id = control.id;
        const QString caption = QString::fromUtf8(control.caption);
        QRect rect = units.Rect(control.x, control.y, control.width, control.height);
        QWidget* widget = nullptr;
        switch (control.kind) {
            case ControlKind::PushLikeRadio: {
                auto* button = new QPushButton(parent);
                // Shows its icon instead of its caption.
                button->setAccessibleName(caption);
                button->setCheckable(true);
                button->setAutoExclusive(true);
                button->setAutoDefault(false);
                button->setFocusPolicy(Qt::ClickFocus);
                button->setIconSize(kButtonIconSize);
                QObject::connect(button, &QPushButton::clicked, button,
                                 [this, id] { Send(WM_COMMAND, MakeCommand(id, BN_CLICKED), 0); });
                widget = button;
                break;
            }
            case ControlKind::PushButton: {
                auto* button = new QPushButton(caption, parent);
                button->setAutoDefault(false);
                button->setDefault(false);
                button->setFocusPolicy(Qt::StrongFocus);
                QObject::connect(button, &QPushButton::clicked, button,
                                 [this, id] { Send(WM_COMMAND, MakeCommand(id, BN_CLICKED), 0); });
                widget = button;
                break;
            }
            case ControlKind::GroupFrame: {
                widget = new CQtGroupFrame(caption, parent);
                break;
            }
            case ControlKind::Label: {
                auto* label = new QLabel(caption, parent);
                label->setAttribute(Qt::WA_TransparentForMouseEvents);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                // The template was made for a narrower font: let the text
                // out to its full width rather than cut its last letter
                // (the labels end short of their meters either way).
                rect.setWidth(std::max(rect.width(), label->fontMetrics().horizontalAdvance(caption)));
                widget = label;
                break;
            }
            case ControlKind::DropDownList: {
                auto* list = new QComboBox(parent);
                list->setEditable(false);
                list->setFocusPolicy(Qt::StrongFocus);
                // The template's height includes the dropped-down list.
                const int closed = list->sizeHint().height();
                list->setMaxVisibleItems(std::max(1, (rect.height() - closed) / list->fontMetrics().height()));
                rect.setHeight(closed);
                // Only the user's choices notify, as a pick list does.
                QObject::connect(list, &QComboBox::activated, list,
                                 [this, id] { Send(WM_COMMAND, MakeCommand(id, CBN_SELCHANGE), 0); });
                widget = list;
                break;
            }
            case ControlKind::DelaySlider: {
                auto* slider = new CQtDelaySlider(parent);
                slider->SetScrollHandler(
                    [this](uint32_t code) { Send(WM_HSCROLL, code, 0); });
                widget = slider;
                break;
            }
            case ControlKind::Edit: {
                auto* edit = new CQtLimitedEdit(parent);
                edit->setFocusPolicy(Qt::StrongFocus);
                // An edit control tells of every change before and after it
                // shows; set text included, and at once.
                QObject::connect(edit, &QLineEdit::textChanged, edit, [this, id] {
                    Send(WM_COMMAND, MakeCommand(id, EN_UPDATE), 0);
                    Send(WM_COMMAND, MakeCommand(id, EN_CHANGE), 0);
                });
                widget = edit;
                break;
            }
            case ControlKind::LevelMeter: {
                auto* meter = new QProgressBar(parent);
                meter->setTextVisible(false);
                meter->setValue(meter->minimum());
                widget = meter;
                break;
            }
        }
        widget->setGeometry(rect);
        widget->lower();  // first in the template ends on top
        if (id != -1) m_controls[id] = widget;
        if ((widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
            if (previousTabStop != nullptr) QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        }
    }
}

void CQtDialogHost::ShowWindow() {
    if (m_window == nullptr) return;
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

int CQtDialogHost::RunMessageLoop() {
    if (m_quitPosted) return m_quitCode;
    // Only the quit message ends the loop; a hidden window does not.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    const int code = QApplication::exec();
    return m_quitPosted ? m_quitCode : code;
}

void CQtDialogHost::CenterWindow() {
    if (m_window == nullptr) return;
    const QScreen* screen = m_window->screen() != nullptr ? m_window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    const QRect frame = m_window->frameGeometry();
    m_window->move(area.x() + (area.width() - frame.width()) / 2,
                   area.y() + (area.height() - frame.height()) / 2);
}

void CQtDialogHost::SetWindowIcons(int iconId) {
    if (m_window != nullptr) m_window->setWindowIcon(ProgramIcon(iconId));
}

void CQtDialogHost::DestroyWindow() {
    if (m_window != nullptr) m_window->Destroy();
}

void CQtDialogHost::PostQuitMessage(int code) {
    m_quitPosted = true;
    m_quitCode = code;
    QCoreApplication::exit(code);
}

void CQtDialogHost::ComboAddString(int id, const std::string& text) {
    auto* list = Find<QComboBox>(id);
    if (list == nullptr) return;
    // A combo box selects its first entry by itself; a pick list does not.
    const int selected = list->currentIndex();
    list->addItem(FromText(text));
    if (selected < 0) list->setCurrentIndex(-1);
}

void CQtDialogHost::ComboSetCurSel(int id, int index) {
    auto* list = Find<QComboBox>(id);
    if (list == nullptr) return;
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

int CQtDialogHost::ComboGetCurSel(int id) {
    auto* list = Find<QComboBox>(id);
    return list != nullptr ? list->currentIndex() : -1;
}

void CQtDialogHost::TrackbarSetRange(int id, int min, int max, bool) {
    if (auto* slider = Find<CQtDelaySlider>(id)) slider->SetTrackbarRange(min, max);
}

void CQtDialogHost::TrackbarSetSelStart(int id, int start, bool redraw) {
    if (auto* slider = Find<CQtDelaySlider>(id)) slider->SetSelectionStart(start, redraw);
}

int CQtDialogHost::TrackbarGetPos(int id) {
    auto* slider = Find<CQtDelaySlider>(id);
    return slider != nullptr ? slider->sliderPosition() : 0;
}

// Sets the value directly: no action is triggered, so nobody is told.
void CQtDialogHost::TrackbarSetPos(int id, int pos, bool) {
    if (auto* slider = Find<CQtDelaySlider>(id)) slider->setValue(pos);
}

void CQtDialogHost::TrackbarSetSel(int id, int start, int end, bool redraw) {
    if (auto* slider = Find<CQtDelaySlider>(id)) slider->SetSelection(start, end, redraw);
}

void CQtDialogHost::EditLimitText(int id, int chars) {
    if (auto* edit = Find<CQtLimitedEdit>(id)) edit->SetTypingLimit(chars);
}

std::string CQtDialogHost::GetText(int id, size_t maxChars) {
    QWidget* widget = Control(id);
    QString text;
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        text = edit->text();
    else if (auto* label = qobject_cast<QLabel*>(widget))
        text = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        text = button->text();
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), std::min(maxChars, static_cast<size_t>(bytes.size())));
}

void CQtDialogHost::SetText(int id, const std::string& text) {
    QWidget* widget = Control(id);
    const QString value = FromText(text);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // The box tells of the new text before this returns (textChanged is
        // synchronous), also when the text stays the same, which Qt would
        // not report.
        if (edit->text() == value) {
            Send(WM_COMMAND, MakeCommand(id, EN_UPDATE), 0);
            Send(WM_COMMAND, MakeCommand(id, EN_CHANGE), 0);
        } else {
            edit->setText(value);
        }
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(value);
    }
}

void CQtDialogHost::EditGetSel(int id, int* start, int* end) {
    auto* edit = Find<QLineEdit>(id);
    int from = 0;
    int to = 0;
    if (edit != nullptr) {
        if (edit->hasSelectedText()) {
            from = edit->selectionStart();
            to = edit->selectionEnd();
        } else {
            from = to = edit->cursorPosition();
        }
    }
    if (start != nullptr) *start = from;
    if (end != nullptr) *end = to;
}

// As an edit control takes a selection: -1 as the start removes it, -1 as
// the end means the end of the text, and the caret goes to the end.
void CQtDialogHost::EditSetSel(int id, int start, int end) {
    auto* edit = Find<QLineEdit>(id);
    if (edit == nullptr) return;
    const int length = static_cast<int>(edit->text().size());
    if (start < 0) {
        edit->deselect();
        return;
    }
    if (end < 0) end = length;
    start = std::min(start, length);
    end = std::min(end, length);
    if (start == end)
        edit->setCursorPosition(end);
    else
        edit->setSelection(start, end - start);
}

// QLineEdit keeps its cursor in view by itself after every change.
void CQtDialogHost::EditScrollCaret(int) {}

void CQtDialogHost::ProgressSetRange(int id, int min, int max) {
    auto* meter = Find<QProgressBar>(id);
    if (meter == nullptr) return;
    meter->setRange(min, max);
    if (meter->value() < min) meter->setValue(min);
}

// A progress bar clamps a position outside its range; Qt would ignore it.
void CQtDialogHost::ProgressSetPos(int id, int pos) {
    if (auto* meter = Find<QProgressBar>(id))
        meter->setValue(std::clamp(pos, meter->minimum(), std::max(meter->minimum(), meter->maximum())));
}

void CQtDialogHost::ButtonSetIcon(int id, int iconId) {
    if (auto* button = Find<QAbstractButton>(id)) button->setIcon(ProgramIcon(iconId));
}

// Setting a check state touches that button only, as BM_SETCHECK does;
// the exclusive pair is the user's clicks only.
void CQtDialogHost::ButtonSetCheck(int id, bool checked) {
    auto* button = Find<QAbstractButton>(id);
    if (button == nullptr || !button->isCheckable()) return;
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(checked);
    button->setAutoExclusive(exclusive);
}

void CQtDialogHost::MessageBox(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::NoIcon, FromText(caption), FromText(text), QMessageBox::Ok, ModalOwner());
    box.exec();
}

intptr_t CQtDialogHost::ShellExecute(const std::string& file, const std::string& parameters) {
    const QString program = QStandardPaths::findExecutable(FromText(file));
    if (program.isEmpty()) return kShellFileNotFound;
    const QStringList arguments = QProcess::splitCommand(FromText(parameters));
    return QProcess::startDetached(program, arguments) ? kShellStarted : kShellAccessDenied;
}

void CQtDialogHost::RunAboutBox() { RunQtAboutDialog(ModalOwner()); }

}  // namespace morvane
