#include "ui/win32/win32_dialog_host.h"

#include "app/windows/app_module.h"
#include "resource.h"
#include "ui/win32/win32_about_dialog.h"
#include "ui/win32/win32_window.h"

namespace morvane {

CWin32DialogHost::CWin32DialogHost(int showCommand) : m_showCommand(showCommand) {}

CWin32DialogHost::~CWin32DialogHost() {
    if (m_hwnd != nullptr) ::DestroyWindow(m_hwnd);
}

bool CWin32DialogHost::CreateDialog(IDialogHandler& handler) {
    if (m_hwnd != nullptr) return false;
    m_handler = &handler;
    // The initialisation runs inside this call.
    const HWND hwnd = ::CreateDialogParamA(AppModule().GetResourceInstance(), MAKEINTRESOURCEA(IDD_MAINDLG),
                                           nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

INT_PTR CALLBACK CWin32DialogHost::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CWin32DialogHost*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CWin32DialogHost*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
        self->Register();
        self->FindRadiosOffTabOrder();
    }
    // Messages before WM_INITDIALOG (the font, the controls' creation) are
    // the dialog manager's alone.
    if (self == nullptr) return FALSE;
    return self->OnMessage(msg, wParam, lParam);
}

INT_PTR CWin32DialogHost::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCDESTROY) {
        Unregister();
        m_radiosOffTabOrder.clear();
        ::SetWindowLongPtrA(m_hwnd, DWLP_USER, 0);
        m_hwnd = nullptr;
        return FALSE;
    }
    if (m_handler == nullptr) return FALSE;
    // The device notifications go through unchanged, wParam the device and
    // lParam its header.
    const INT_PTR result = HandToMessageMap(*m_handler, msg, wParam, lParam);
    // A click has checked one radio button of a group and unchecked the rest.
    if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) KeepRadiosOffTabOrder();
    return result;
}

// The window registers itself with its thread's loop while it initialises.
void CWin32DialogHost::Register() {
    m_loop = AppModule().GetMessageLoop();
    if (m_loop == nullptr) return;
    m_loop->AddMessageFilter(this);
    m_loop->AddIdleHandler(this);
}

void CWin32DialogHost::Unregister() {
    if (m_loop == nullptr) return;
    m_loop->RemoveMessageFilter(this);
    m_loop->RemoveIdleHandler(this);
    m_loop = nullptr;
}

// The platform puts a radio button into the tab order whenever it is
// checked (and the first tab stop gets the focus when the dialog opens).
// Play and Stop are meant to stay out of it, as their template says: the
// focus starts on the input list and Tab never lands on them.
void CWin32DialogHost::FindRadiosOffTabOrder() {
    m_radiosOffTabOrder.clear();
    for (HWND child = ::GetWindow(m_hwnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = ::GetWindowLongA(child, GWL_STYLE);
        const LONG type = style & BS_TYPEMASK;
        wchar_t className[16] = {};
        ::GetClassNameW(child, className, 16);
        if (::lstrcmpiW(className, L"button") == 0 && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) &&
            (style & WS_TABSTOP) == 0)
            m_radiosOffTabOrder.push_back(child);
    }
}

void CWin32DialogHost::KeepRadiosOffTabOrder() const {
    for (const HWND radio : m_radiosOffTabOrder) {
        const LONG style = ::GetWindowLongA(radio, GWL_STYLE);
        if ((style & WS_TABSTOP) != 0) ::SetWindowLongA(radio, GWL_STYLE, style & ~WS_TABSTOP);
    }
}

bool CWin32DialogHost::PreTranslateMessage(MSG* msg) {
    return m_hwnd != nullptr && ::IsDialogMessageA(m_hwnd, msg);
}

void CWin32DialogHost::ShowWindow() {
    if (m_hwnd != nullptr) ::ShowWindow(m_hwnd, m_showCommand);
}

int CWin32DialogHost::RunMessageLoop() {
    if (CMessageLoop* loop = AppModule().GetMessageLoop()) return loop->Run();
    // A thread without a registered loop (tests) gets one for this run.
    CMessageLoop loop;
    AppModule().AddMessageLoop(&loop);
    if (m_hwnd != nullptr && m_loop == nullptr) Register();
    const int code = loop.Run();
    Unregister();
    AppModule().RemoveMessageLoop();
    return code;
}

// The main window has no owner: in the work area of its monitor.
void CWin32DialogHost::CenterWindow() { CenterWindowOver(m_hwnd, nullptr); }

void CWin32DialogHost::SetWindowIcons(int iconId) {
    if (m_hwnd == nullptr) return;
    const HINSTANCE instance = AppModule().GetResourceInstance();
    const HANDLE big = ::LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                    ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
    ::SendMessageA(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    const HANDLE small = ::LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                      ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                      LR_DEFAULTCOLOR);
    ::SendMessageA(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void CWin32DialogHost::DestroyWindow() {
    if (m_hwnd != nullptr) ::DestroyWindow(m_hwnd);
}

void CWin32DialogHost::PostQuitMessage(int code) { ::PostQuitMessage(code); }

LRESULT CWin32DialogHost::Send(int id, UINT msg, WPARAM wParam, LPARAM lParam) const {
    if (m_hwnd == nullptr) return 0;
    const HWND control = ::GetDlgItem(m_hwnd, id);
    return control != nullptr ? ::SendMessageW(control, msg, wParam, lParam) : 0;
}

void CWin32DialogHost::ComboAddString(int id, const std::string& text) {
    const std::wstring wide = Wide(text);
    Send(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void CWin32DialogHost::ComboSetCurSel(int id, int index) { Send(id, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }

int CWin32DialogHost::ComboGetCurSel(int id) {
    if (m_hwnd == nullptr || ::GetDlgItem(m_hwnd, id) == nullptr) return -1;
    return static_cast<int>(Send(id, CB_GETCURSEL, 0, 0));
}

void CWin32DialogHost::TrackbarSetRange(int id, int min, int max, bool redraw) {
    Send(id, TBM_SETRANGE, redraw, MAKELPARAM(min, max));
}

void CWin32DialogHost::TrackbarSetSelStart(int id, int start, bool redraw) {
    Send(id, TBM_SETSELSTART, redraw, start);
}

int CWin32DialogHost::TrackbarGetPos(int id) { return static_cast<int>(Send(id, TBM_GETPOS, 0, 0)); }

void CWin32DialogHost::TrackbarSetPos(int id, int pos, bool redraw) { Send(id, TBM_SETPOS, redraw, pos); }

void CWin32DialogHost::TrackbarSetSel(int id, int start, int end, bool redraw) {
    Send(id, TBM_SETSEL, redraw, MAKELPARAM(start, end));
}

void CWin32DialogHost::EditLimitText(int id, int chars) { Send(id, EM_LIMITTEXT, static_cast<WPARAM>(chars), 0); }

std::string CWin32DialogHost::GetText(int id, size_t maxChars) {
    return m_hwnd != nullptr ? WindowText(::GetDlgItem(m_hwnd, id), maxChars) : std::string();
}

// The edit control tells of the new text (EN_UPDATE, EN_CHANGE) before
// this returns.
void CWin32DialogHost::SetText(int id, const std::string& text) {
    if (m_hwnd == nullptr) return;
    if (const HWND control = ::GetDlgItem(m_hwnd, id)) ::SetWindowTextW(control, Wide(text).c_str());
}

void CWin32DialogHost::EditGetSel(int id, int* start, int* end) {
    DWORD from = 0;
    DWORD to = 0;
    Send(id, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    if (start != nullptr) *start = static_cast<int>(from);
    if (end != nullptr) *end = static_cast<int>(to);
}

void CWin32DialogHost::EditSetSel(int id, int start, int end) {
    Send(id, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void CWin32DialogHost::EditScrollCaret(int id) { Send(id, EM_SCROLLCARET, 0, 0); }

void CWin32DialogHost::ProgressSetRange(int id, int min, int max) { Send(id, PBM_SETRANGE, 0, MAKELPARAM(min, max)); }

void CWin32DialogHost::ProgressSetPos(int id, int pos) { Send(id, PBM_SETPOS, static_cast<WPARAM>(pos), 0); }

void CWin32DialogHost::ButtonSetIcon(int id, int iconId) {
    const HICON icon = ::LoadIconA(AppModule().GetResourceInstance(), MAKEINTRESOURCEA(iconId));
    Send(id, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

void CWin32DialogHost::ButtonSetCheck(int id, bool checked) {
    Send(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    KeepRadiosOffTabOrder();
}

void CWin32DialogHost::MessageBox(const std::string& text, const std::string& caption) {
    ::MessageBoxW(m_hwnd, Wide(text).c_str(), Wide(caption).c_str(), MB_OK);
}

intptr_t CWin32DialogHost::ShellExecute(const std::string& file, const std::string& parameters) {
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", Wide(file).c_str(), Wide(parameters).c_str(), L"",
                                             SW_SHOWDEFAULT);
    return reinterpret_cast<intptr_t>(result);
}

void CWin32DialogHost::RunAboutBox() { RunWin32AboutBox(::GetActiveWindow()); }

}  // namespace morvane
