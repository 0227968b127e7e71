#include "ui/about_dlg.h"

#include "resource.h"

#if !defined(MORVANE_WEB_ADDRESS) || !defined(MORVANE_WEB_CAPTION)
#error "MORVANE_WEB_ADDRESS and MORVANE_WEB_CAPTION are set by the build (src/CMakeLists.txt)"
#endif

namespace morvane {

namespace {

// What a modal run returns for OK and for Escape or the close box.
constexpr int kEndOk = 1;
constexpr int kEndCancel = 2;
// A static control's click notification.
constexpr uint32_t kStaticClicked = 0;

}  // namespace

std::string MakerWebAddress() { return MORVANE_WEB_ADDRESS; }

std::string MakerWebCaption() { return MORVANE_WEB_CAPTION; }

CAboutDlg::CAboutDlg(IAboutHost& host, const IProgramResources& resources, IPictureDecoder& decoder,
                     IWaitClock& clock, std::string_view buildDate)
    : m_host(host), m_resources(resources), m_buildDate(buildDate), m_picture(decoder, clock) {}

intptr_t CAboutDlg::HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t /*lParam*/, bool* handled) {
    *handled = true;
    if (msg == WM_INITDIALOG) return HandleInitDialog();
    if (msg == WM_COMMAND) {
        const int id = static_cast<int>(wParam & 0xFFFFu);
        const uint32_t code = static_cast<uint32_t>((wParam >> 16) & 0xFFFFu);
        switch (id) {
            case IDOK:
                m_host.EndDialog(kEndOk);
                return 0;
            case IDCANCEL:
                m_host.EndDialog(kEndCancel);
                return 0;
            case IDC_ABOUT_PICTURE:
                // A click on the picture is taken and ignored.
                if (code == kStaticClicked) return 0;
                break;
            case IDC_ABOUT_WEB:
                if (code == BN_CLICKED) {
                    OpenMakerPage();
                    return 0;
                }
                break;
            default:
                break;
        }
    }
    *handled = false;
    return 0;
}

intptr_t CAboutDlg::HandleInitDialog() {
    m_host.CenterWindow();
    m_picture.AttachToControl(m_host.PictureControl(IDC_ABOUT_PICTURE));
    // Without its picture the box opens all the same.
    m_picture.LoadFromResource(m_resources, uint16_t{IDR_ABOUT_PICTURE}, "BINARY");
    m_picture.StartAnimation();

    const std::string textTemplate = m_host.GetDlgItemText(IDC_ABOUT_TEXT, kAboutTextChars);
    m_host.SetDlgItemText(IDC_ABOUT_TEXT,
                          FormatAboutText(textTemplate, BuildNumberFromDate(m_buildDate), kAboutTextChars));
    // The dialog manager then puts the focus on the first tab stop, OK.
    return 1;
}

void CAboutDlg::OpenMakerPage() { m_host.OpenWebPage(MakerWebAddress()); }

}  // namespace morvane
