#pragma once
// The About box's logic: its initialisation and message map, over a small
// host interface that each platform's dialog implements.

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/about_text.h"
#include "ui/dialog_host.h"
#include "ui/picture_canvas.h"
#include "ui/picture_ex_wnd.h"
#include "ui/picture_wait.h"
#include "ui/program_resources.h"

namespace morvane {

// The maker's web page, a build setting, and the caption of the button that
// opens it: the address without its scheme.
std::string MakerWebAddress();
std::string MakerWebCaption();

// Characters the text buffers of the About box hold, terminator included.
inline constexpr std::size_t kAboutTextChars = 255;

class IAboutHost {
public:
    // Centres the dialog over its parent window.
    virtual void CenterWindow() = 0;
    // The placeholder control that the picture control takes over; null
    // when there is none.
    virtual IPictureCanvas* PictureControl(int id) = 0;
    virtual std::string GetDlgItemText(int id, std::size_t maxChars) = 0;
    virtual void SetDlgItemText(int id, const std::string& text) = 0;
    // Ends the modal run with `result`.
    virtual void EndDialog(int result) = 0;
    // Opens the page in the default browser; failures are not reported.
    virtual void OpenWebPage(const std::string& address) = 0;

protected:
    ~IAboutHost() = default;
};

class CAboutDlg : public IDialogHandler {
public:
    CAboutDlg(IAboutHost& host, const IProgramResources& resources, IPictureDecoder& decoder,
              IWaitClock& clock, std::string_view buildDate = kBuildDate);
    CAboutDlg(const CAboutDlg&) = delete;
    CAboutDlg& operator=(const CAboutDlg&) = delete;

    intptr_t HandleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool* handled) override;

    CPictureExWnd& Picture() { return m_picture; }

private:
    intptr_t HandleInitDialog();
    void OpenMakerPage();

    IAboutHost& m_host;
    const IProgramResources& m_resources;
    std::string m_buildDate;
    CPictureExWnd m_picture;
};

}  // namespace morvane
