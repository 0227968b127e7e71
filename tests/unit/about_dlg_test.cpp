// The About box's logic: the build number, the safe formatting of its text,
// and its initialisation and message map against a recording host.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resource.h"
#include "support/picture_rig.h"
#include "ui/about_dlg.h"
#include "ui/about_text.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;

TEST(AboutBuildNumber, TheBuildDateGivesEightDigits) {
    EXPECT_EQ(BuildNumberFromDate("Nov  7 2016"), "20161107");
    EXPECT_EQ(BuildNumberFromDate("Jan  5 2017"), "20170105");
    EXPECT_EQ(BuildNumberFromDate("Dec 31 1999"), "19991231");
    EXPECT_EQ(BuildNumberFromDate("Foo 12 2020"), "20201312") << "an unknown month is 13";
    EXPECT_EQ(BuildNumberFromDate("nov  7 2016"), "20161307") << "months match exactly";
    // This build's own date.
    const std::string number = BuildNumberFromDate(kBuildDate);
    ASSERT_EQ(number.size(), 8u);
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_LE(std::stoi(number.substr(4, 2)), 12);
}

TEST(AboutText, OnlyTheFirstPercentSIsReplaced) {
    EXPECT_EQ(FormatAboutText("Morvane Build %s\nCopyright line", "20161107", 255),
              "Morvane Build 20161107\nCopyright line");
    EXPECT_EQ(FormatAboutText("100% sure %d %x %n %s and %s", "X", 255), "100% sure %d %x %n X and %s");
    EXPECT_EQ(FormatAboutText("No argument here, 50%", "X", 255), "No argument here, 50%");
    EXPECT_EQ(FormatAboutText("%%s", "X", 255), "%X");
    // Kept below the buffer, and not cut inside a character.
    EXPECT_EQ(FormatAboutText("ab%s", "cdef", 5), "abcd");
    EXPECT_EQ(FormatAboutText("a\xC2\xA9", "", 3), "a");
}

TEST(AboutText, TheButtonShowsTheAddressWithoutItsScheme) {
    const std::string address = MakerWebAddress();
    const std::string caption = MakerWebCaption();
    EXPECT_EQ(caption.find("://"), std::string::npos);
    ASSERT_GT(address.size(), caption.size());
    EXPECT_EQ(address.substr(address.size() - caption.size()), caption);
    EXPECT_EQ(address.substr(address.size() - caption.size() - 3, 3), "://");
}

// Resources with the About picture as 211 of type "BINARY", telling the
// recorder when they are read.
class CPictureResources final : public IProgramResources {
public:
    explicit CPictureResources(std::vector<std::string>& calls) : m_calls(calls) {
        std::ifstream file(MORVANE_RES_DIR "/about.gif", std::ios::binary);
        m_picture.assign(std::istreambuf_iterator<char>(file), {});
    }
    std::optional<std::vector<uint8_t>> ReadResource(const ResourceName& name,
                                                     std::string_view type) const override {
        const auto* id = std::get_if<uint16_t>(&name);
        m_calls.push_back("resource " + (id ? std::to_string(*id) : std::get<std::string>(name)) + " " +
                          std::string(type));
        if (id == nullptr || *id != IDR_ABOUT_PICTURE || type != "BINARY") return std::nullopt;
        return m_picture;
    }

private:
    std::vector<std::string>& m_calls;
    std::vector<uint8_t> m_picture;
};

class CRecordingAboutHost final : public IAboutHost {
public:
    CRecordingAboutHost(std::vector<std::string>& calls, IPictureCanvas& placeholder)
        : m_calls(calls), m_placeholder(placeholder) {}
    void CenterWindow() override { m_calls.push_back("centre"); }
    IPictureCanvas* PictureControl(int id) override {
        m_calls.push_back("picture " + std::to_string(id));
        return id == IDC_ABOUT_PICTURE ? &m_placeholder : nullptr;
    }
    std::string GetDlgItemText(int id, std::size_t maxChars) override {
        m_calls.push_back("get " + std::to_string(id) + " " + std::to_string(maxChars));
        return text;
    }
    void SetDlgItemText(int id, const std::string& value) override {
        m_calls.push_back("set " + std::to_string(id) + " " + value);
    }
    void EndDialog(int result) override { m_calls.push_back("end " + std::to_string(result)); }
    void OpenWebPage(const std::string& address) override { m_calls.push_back("open " + address); }

    std::string text = "Morvane Build %s\r\n100% ours";

private:
    std::vector<std::string>& m_calls;
    IPictureCanvas& m_placeholder;
};

struct AboutRig {
    std::vector<std::string> calls;
    test::CPictureMonitor monitor;
    test::CVirtualClock clock{monitor};
    test::CRecordingCanvas placeholder{monitor, clock};
    test::CNumberingDecoder decoder{placeholder};
    CPictureResources resources{calls};
    CRecordingAboutHost host{calls, placeholder};
    CAboutDlg dialog{host, resources, decoder, clock, "Jan  5 2017"};

    intptr_t Send(uint32_t msg, uintptr_t wParam, bool* handled) {
        return dialog.HandleMessage(msg, wParam, 0, handled);
    }
};

TEST(AboutDialog, InitialisationCentresAnimatesAndFillsInTheBuildNumber) {
    AboutRig rig;
    bool handled = false;
    EXPECT_EQ(rig.Send(WM_INITDIALOG, 0, &handled), 1);
    EXPECT_TRUE(handled);
    EXPECT_EQ(rig.calls, (std::vector<std::string>{"centre", "picture 1004", "resource 211 BINARY", "get 1018 255",
                                                   "set 1018 Morvane Build 20170105\r\n100% ours"}));
    EXPECT_EQ(rig.placeholder.bound, &rig.dialog.Picture());
    EXPECT_EQ(rig.placeholder.windowSize, (CanvasSize{59, 76}));
    // The animation runs: its first frame waits its time.
    ASSERT_TRUE(rig.clock.AwaitWaiter(100ms));
    EXPECT_TRUE(rig.dialog.Picture().IsAnimated());
}

TEST(AboutDialog, WithoutItsPictureTheBoxOpensAllTheSame) {
    AboutRig rig;
    rig.host.text = "No number";
    rig.decoder.refuse = {1, 2, 3, 4, 5, 6, 7, 8};
    bool handled = false;
    EXPECT_EQ(rig.Send(WM_INITDIALOG, 0, &handled), 1);
    EXPECT_EQ(rig.calls.back(), "set 1018 No number");
    EXPECT_EQ(rig.placeholder.windowSize, (CanvasSize{19, 22})) << "keeps its template size";
    EXPECT_FALSE(rig.dialog.Picture().IsAnimating());
}

TEST(AboutDialog, TheMessageMap) {
    struct Case {
        uint32_t msg;
        int id;
        uint32_t code;
        bool handled;
        const char* call;  // null: none
    };
    const std::string open = "open " + MakerWebAddress();
    const Case cases[] = {
        {WM_COMMAND, IDOK, BN_CLICKED, true, "end 1"},
        {WM_COMMAND, IDOK, 1, true, "end 1"},
        {WM_COMMAND, IDCANCEL, BN_CLICKED, true, "end 2"},
        {WM_COMMAND, IDCANCEL, 7, true, "end 2"},
        {WM_COMMAND, IDC_ABOUT_PICTURE, 0, true, nullptr},
        {WM_COMMAND, IDC_ABOUT_PICTURE, 1, false, nullptr},
        {WM_COMMAND, IDC_ABOUT_WEB, BN_CLICKED, true, open.c_str()},
        {WM_COMMAND, IDC_ABOUT_WEB, 5, false, nullptr},
        {WM_COMMAND, IDC_ABOUT_TEXT, BN_CLICKED, false, nullptr},
        {WM_HSCROLL, IDOK, 0, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.msg) + " " + std::to_string(c.id) + " " + std::to_string(c.code));
        AboutRig rig;
        bool handled = !c.handled;
        EXPECT_EQ(rig.Send(c.msg, MakeCommand(c.id, c.code), &handled), 0);
        EXPECT_EQ(handled, c.handled);
        EXPECT_EQ(rig.calls, c.call ? std::vector<std::string>{c.call} : std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace morvane
