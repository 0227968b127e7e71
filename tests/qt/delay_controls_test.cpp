// The delay box and the delay slider on Qt widgets: what each user action
// tells the window logic, and what the controls show afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>

#include "engine/delay_engine.h"
#include "resource.h"
#include "ui/qt/qt_delay_slider.h"
#include "support/qt_rig/window_rig.h"

namespace morvane::qttest {
namespace {

using Codes = std::vector<uint32_t>;

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// A rig with the line running, so that every restart shows as a reset of
// the capture device.
struct Running : CWindowRig {
    Running() {
        Open();
        dialog.Play();
        RunFor(3 * kBufferFrames);
        sim.EnableCallLog(true);
        log.Clear();
    }
};

TEST(DelayBox, TypingOverTheSelectionIsAppliedAtOnce) {
    Running rig;
    QLineEdit* box = rig.DelayBox();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "5");
    EXPECT_EQ(box->text(), "5.0");
    EXPECT_EQ(box->cursorPosition(), 1);
    EXPECT_FALSE(box->hasSelectedText());
    EXPECT_EQ(rig.Slider()->value(), 50);
    EXPECT_EQ(rig.dialog.Engine().DelayCount(), 50u);
    EXPECT_EQ(rig.CaptureResets(), 1);
    // The slider was moved by the program: it told nobody.
    EXPECT_TRUE(rig.log.ScrollCodes().empty());
    // The typed change, then the nested one of the rewrite, each with its
    // update before its change notification.
    EXPECT_EQ(rig.log.Commands(IDC_DELAY_EDIT), (Codes{EN_UPDATE, EN_UPDATE, EN_CHANGE, EN_CHANGE}));
}

TEST(DelayBox, KeystrokeByKeystroke) {
    Running rig;
    QLineEdit* box = rig.DelayBox();
    box->setFocus();
    box->selectAll();
    std::vector<QString> shown;
    for (const char key : std::string("2.35")) {
        QTest::keyClick(box, key);
        shown.push_back(box->text());
    }
    // "2" is rewritten to 2.0; the point makes 2..0, read as 2.0; then the
    // 3 replaces the tenths and the 5 is a hundredth, which is dropped.
    EXPECT_EQ(shown, (std::vector<QString>{"2.0", "2.0", "2.3", "2.3"}));
    EXPECT_EQ(rig.Slider()->value(), 23);
    EXPECT_EQ(rig.dialog.Engine().DelayCount(), 23u);
}

TEST(DelayBox, AtMostFourCharactersCanBeTyped) {
    Running rig;
    QLineEdit* box = rig.DelayBox();
    rig.Slider()->setFocus();
    QTest::keyClick(rig.Slider(), Qt::Key_End);
    ASSERT_EQ(box->text(), "29.9");
    rig.log.Clear();
    rig.sim.ClearCalls();
    box->setFocus();
    box->setCursorPosition(4);
    QTest::keyClicks(box, "7");
    box->setCursorPosition(0);
    QTest::keyClicks(box, "1");
    EXPECT_EQ(box->text(), "29.9");
    EXPECT_TRUE(rig.log.Commands(IDC_DELAY_EDIT).empty());
    EXPECT_EQ(rig.CaptureResets(), 0);
    // Deleting is always possible.
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(rig.log.Commands(IDC_DELAY_EDIT).front(), EN_UPDATE);
}

TEST(DelayBox, ProgramSetTextNotifiesAtOnceEvenWhenUnchanged) {
    CWindowRig rig;
    rig.Open();
    rig.log.Clear();
    rig.host.SetText(IDC_DELAY_EDIT, "1.0");
    EXPECT_EQ(rig.log.Commands(IDC_DELAY_EDIT), (Codes{EN_UPDATE, EN_CHANGE}));
    rig.log.Clear();
    // Rewritten inside its own update notification: the nested pair
    // comes between the outer update and change.
    rig.host.SetText(IDC_DELAY_EDIT, "0.70");
    EXPECT_EQ(rig.log.Commands(IDC_DELAY_EDIT), (Codes{EN_UPDATE, EN_UPDATE, EN_CHANGE, EN_CHANGE}));
    EXPECT_EQ(rig.DelayBox()->text(), "0.7");
    EXPECT_EQ(rig.dialog.Engine().DelayCount(), 7u);
}

TEST(DelaySlider, DragRestartsOnEveryMoveAndOnceAtTheEnd) {
    Running rig;
    CQtDelaySlider* slider = rig.Slider();
    const QPoint start = rig.ThumbCentre();
    SendMouse(slider, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step)
        SendMouse(slider, QEvent::MouseMove, start + QPoint(10 * step, 0), Qt::NoButton, Qt::LeftButton);
    SendMouse(slider, QEvent::MouseButtonRelease, start + QPoint(40, 0), Qt::LeftButton, Qt::NoButton);

    const Codes codes = rig.log.ScrollCodes();
    EXPECT_EQ(codes, (Codes{kTbThumbTrack, kTbThumbTrack, kTbThumbTrack, kTbThumbTrack, TB_THUMBPOSITION,
                            kTbEndTrack}));
    EXPECT_EQ(rig.CaptureResets(), 5);
    const int pos = slider->value();
    EXPECT_GT(pos, 20);
    EXPECT_EQ(rig.dialog.Engine().DelayCount(), static_cast<uint32_t>(pos));
    EXPECT_EQ(rig.DelayBox()->text(), QString("%1.%2").arg(pos / 10).arg(pos % 10));
}

TEST(DelaySlider, ClickInTheChannelRestartsOnce) {
    Running rig;
    CQtDelaySlider* slider = rig.Slider();
    const QPoint right = rig.ThumbCentre() + QPoint(100, 0);
    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, right);
    EXPECT_EQ(rig.log.ScrollCodes(), (Codes{TB_PAGEDOWN, kTbEndTrack}));
    EXPECT_EQ(rig.CaptureResets(), 1);
    // A page is a fifth of the range.
    EXPECT_EQ(slider->value(), 10 + 59);
    EXPECT_EQ(rig.DelayBox()->text(), "6.9");
    EXPECT_EQ(rig.dialog.Engine().DelayCount(), 69u);
}

TEST(DelaySlider, KeysMoveAsATrackbarsDo) {
    Running rig;
    CQtDelaySlider* slider = rig.Slider();
    slider->setFocus();
    struct Step {
        Qt::Key key;
        uint32_t code;
        int pos;
    };
    const Step steps[] = {
        {Qt::Key_Right, TB_LINEDOWN, 11}, {Qt::Key_Down, TB_LINEDOWN, 12}, {Qt::Key_Left, TB_LINEUP, 11},
        {Qt::Key_Up, TB_LINEUP, 10},      {Qt::Key_PageDown, TB_PAGEDOWN, 69}, {Qt::Key_PageUp, TB_PAGEUP, 10},
        {Qt::Key_End, TB_BOTTOM, 299},    {Qt::Key_Home, TB_TOP, 1},
    };
    for (const Step& step : steps) {
        rig.log.Clear();
        rig.sim.ClearCalls();
        QTest::keyClick(slider, step.key);
        EXPECT_EQ(rig.log.ScrollCodes(), (Codes{step.code, kTbEndTrack})) << step.key;
        EXPECT_EQ(slider->value(), step.pos) << step.key;
        EXPECT_EQ(rig.dialog.Engine().DelayCount(), static_cast<uint32_t>(step.pos)) << step.key;
        EXPECT_EQ(rig.CaptureResets(), 1) << step.key;
    }
    EXPECT_EQ(rig.DelayBox()->text(), "0.1");
}

TEST(DelaySlider, SettingThePositionTellsNobody) {
    CWindowRig rig;
    rig.Open();
    rig.log.Clear();
    rig.host.TrackbarSetPos(IDC_DELAY_SLIDER, 77, true);
    EXPECT_EQ(rig.Slider()->value(), 77);
    EXPECT_EQ(rig.host.TrackbarGetPos(IDC_DELAY_SLIDER), 77);
    EXPECT_TRUE(rig.log.messages.empty());
}

}  // namespace
}  // namespace morvane::qttest
