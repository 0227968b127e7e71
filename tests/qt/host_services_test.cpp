// The Qt host's services and plumbing: device notifications across threads
// and modal loops, message boxes, program launch, dialog units.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <thread>

#include "resource.h"
#include "ui/qt/dialog_units.h"
#include "support/qt_rig/window_rig.h"

namespace morvane::qttest {
namespace {

TEST(WaveWindow, DeliversPostsFromAnyThreadInOrderUntilTheWindowGoes) {
    CQtDialogHost host;
    CMessageLog log;
    // Before the window exists there is nobody to tell.
    host.WaveWindow()->PostWaveMessage(MM_WIM_DATA, 999, nullptr);
    QCoreApplication::processEvents();
    ASSERT_TRUE(host.CreateDialog(log));
    log.Clear();

    WAVEHDR headers[2]{};
    std::thread device([&] {
        for (uintptr_t i = 0; i < 500; ++i)
            host.WaveWindow()->PostWaveMessage(i % 2 ? MM_WOM_DONE : MM_WIM_DATA, i, &headers[i % 2]);
    });
    device.join();
    EXPECT_TRUE(log.messages.empty());  // only the event loop delivers
    QCoreApplication::processEvents();
    ASSERT_EQ(log.messages.size(), 500u);
    for (uintptr_t i = 0; i < 500; ++i) {
        EXPECT_EQ(log.messages[i].msg, i % 2 ? MM_WOM_DONE : MM_WIM_DATA);
        EXPECT_EQ(log.messages[i].wParam, i);
        EXPECT_EQ(log.messages[i].lParam, reinterpret_cast<intptr_t>(&headers[i % 2]));
    }

    log.Clear();
    host.WaveWindow()->PostWaveMessage(MM_WIM_DATA, 1, nullptr);
    host.DestroyWindow();
    host.WaveWindow()->PostWaveMessage(MM_WIM_DATA, 2, nullptr);
    QCoreApplication::processEvents();
    EXPECT_TRUE(log.messages.empty());
}

// Modal boxes run their own loops; the line keeps running meanwhile.
TEST(ModalBoxes, AboutBoxKeepsTheLineRunning) {
    CWindowRig rig({}, {ConstantSignal(3000, 4000)});
    rig.Open();
    rig.dialog.Play();
    QString title;
    uint32_t receivedInside = 0;
    int meterInside = 0;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (box == nullptr) return;
        title = box->windowTitle();
        rig.RunFor(5 * kBufferFrames);
        receivedInside = rig.dialog.Engine().ReceivedCount();
        meterInside = rig.Meter(IDC_INPUT_RIGHT)->value();
        for (auto* button : box->findChildren<QPushButton*>())
            if (button->text() == "OK") QTest::mouseClick(button, Qt::LeftButton);
    });
    QTest::mouseClick(rig.Button(ID_APP_ABOUT), Qt::LeftButton);
    EXPECT_EQ(title, "About Morvane");
    EXPECT_EQ(receivedInside, 5u);
    EXPECT_EQ(meterInside, 4000);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(ModalBoxes, TunerWithoutTunerCardsSaysSo) {
    CWindowRig rig;
    rig.Open();
    QString text;
    QString caption;
    int buttons = 0;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        text = box->text();
        caption = box->windowTitle();
        buttons = static_cast<int>(box->buttons().size());
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(rig.Button(IDC_TUNER), Qt::LeftButton);
    EXPECT_EQ(rig.tuner.pagesAsked, 1);
    EXPECT_EQ(text, "Sorry, no tuner found");
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_TRUE(rig.Window()->isVisible());
}

TEST(ShellExecute, FindsProgramsOnThePath) {
    CQtDialogHost host;
    EXPECT_EQ(host.ShellExecute("morvane-no-such-program", "-R"), 2);
    EXPECT_EQ(host.ShellExecute("/nonexistent/dir/program", ""), 2);
    EXPECT_GT(host.ShellExecute("true", "--ignored"), 32);
}

TEST(DialogUnits, RoundLikeTheDialogManager) {
    // The base units of the classic 8-point dialog font.
    const CDialogUnits classic(6, 13);
    EXPECT_EQ(classic.Size(364, 215), QSize(546, 349));
    EXPECT_EQ(classic.Rect(13, 179, 41, 25), QRect(20, 291, 62, 41));  // 19.5 and 61.5 round up
    EXPECT_EQ(classic.Rect(15, 46, 20, 8), QRect(23, 75, 30, 13));

}

}  // namespace
}  // namespace morvane::qttest
