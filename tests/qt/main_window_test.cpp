// The main window on Qt widgets: start-up, options, keyboard and the ways
// out, driven through the real widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/app_run.h"
#include "app/options.h"
#include "resource.h"
#include "ui/qt/qt_application.h"
#include "ui/qt/qt_delay_slider.h"
#include "ui/qt/qt_group_frame.h"
#include "support/qt_rig/window_rig.h"

namespace morvane::qttest {
namespace {

constexpr int kMeters[] = {IDC_INPUT_LEFT, IDC_INPUT_RIGHT, IDC_OUTPUT_LEFT, IDC_OUTPUT_RIGHT};

TEST(MainWindowStart, WithoutOptions) {
    CWindowRig rig({}, {sim::NoiseSignal, sim::NoiseSignal}, 2);
    rig.Open();

    EXPECT_EQ(rig.Window()->windowTitle(), "Morvane");
    EXPECT_TRUE(rig.Window()->isVisible());
    EXPECT_EQ(rig.InputList()->count(), 2);
    EXPECT_EQ(rig.InputList()->itemText(1), "Input 1");
    EXPECT_EQ(rig.InputList()->currentIndex(), 0);
    EXPECT_EQ(rig.OutputList()->currentIndex(), 0);
    EXPECT_EQ(rig.DelayBox()->text(), "1.0");
    EXPECT_EQ(rig.Slider()->value(), 10);
    EXPECT_EQ(rig.Slider()->minimum(), 1);
    EXPECT_EQ(rig.Slider()->maximum(), 299);
    EXPECT_EQ(rig.dialog.Engine().DelayCount(), 10u);
    for (int id : kMeters) {
        EXPECT_EQ(rig.Meter(id)->value(), 0) << id;
        EXPECT_EQ(rig.Meter(id)->maximum(), 32767) << id;
        EXPECT_FALSE(rig.Meter(id)->isTextVisible()) << id;
    }
    EXPECT_TRUE(rig.Button(IDC_STOP)->isChecked());
    EXPECT_FALSE(rig.Button(IDC_PLAY)->isChecked());
    EXPECT_FALSE(rig.Button(IDC_PLAY)->icon().isNull());
    EXPECT_FALSE(rig.Button(IDC_STOP)->icon().isNull());
    EXPECT_FALSE(rig.Window()->windowIcon().isNull());
    EXPECT_EQ(rig.Window()->focusWidget(), rig.InputList());
    EXPECT_FALSE(rig.dialog.Engine().IsPlaying());
    // A fixed size, and a minimise button but no maximise button.
    EXPECT_EQ(rig.Window()->minimumSize(), rig.Window()->maximumSize());
    EXPECT_TRUE(rig.Window()->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(rig.Window()->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST(MainWindowStart, InputOptionSelectsTheDeviceThatPlayOpens) {
    // Device 0 is silent, device 1 loud: the meters tell which one plays.
    CWindowRig rig({"-in", "1"}, {ConstantSignal(0, 0), ConstantSignal(1000, 2000)});
    rig.Open();
    EXPECT_EQ(rig.InputList()->currentIndex(), 1);
    EXPECT_EQ(rig.dialog.Engine().InputDevice(), 1);
    rig.dialog.Play();
    rig.RunFor(kBufferFrames);
    EXPECT_EQ(rig.Meter(IDC_INPUT_LEFT)->value(), 1000);
    EXPECT_EQ(rig.Meter(IDC_INPUT_RIGHT)->value(), 2000);
}

TEST(MainWindowStart, OutputIndexBeyondTheListLeavesNoSelection) {
    CWindowRig rig({"-out", "5"}, {sim::NoiseSignal}, 2);
    rig.Open();
    EXPECT_EQ(rig.OutputList()->currentIndex(), -1);
    EXPECT_EQ(rig.OutputList()->currentText(), "");
    EXPECT_EQ(rig.dialog.Engine().OutputDevice(), -1);
}

TEST(MainWindowStart, DelayOptions) {
    {
        // Already canonical once "0" is put in front: nothing moves.
        CWindowRig rig({"-delay", ".5"});
        rig.Open();
        EXPECT_EQ(rig.DelayBox()->text(), "0.5");
        EXPECT_EQ(rig.dialog.Engine().DelayCount(), 30u);
    }
    {
        // Five characters set by the program: the typing limit of four
        // must not cut them to "029.".
        CWindowRig rig({"-delay", "29.9"});
        rig.Open();
        EXPECT_EQ(rig.DelayBox()->text(), "29.9");
        EXPECT_EQ(rig.Slider()->value(), 299);
        EXPECT_EQ(rig.dialog.Engine().DelayCount(), 299u);
    }
}

// The run step with -play, inside the real event loop; Esc ends it.
TEST(MainWindowStart, PlayOptionStartsTheLineBeforeTheLoop) {
    CWindowRig rig({"-play"});
    bool playChecked = false;
    bool stopChecked = true;
    bool playing = false;
    const int code = rig.RunLoop(
        [&] {
            playChecked = rig.Button(IDC_PLAY)->isChecked();
            stopChecked = rig.Button(IDC_STOP)->isChecked();
            playing = rig.dialog.Engine().IsPlaying();
            QTest::keyClick(rig.Window()->focusWidget(), Qt::Key_Escape);
        },
        true);
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(playChecked);
    EXPECT_FALSE(stopChecked);
    EXPECT_TRUE(playing);
}

TEST(MainWindowKeys, TabOrderSkipsPlayAndStop) {
    CWindowRig rig;
    rig.Open();
    const int expected[] = {IDC_DELAY_SLIDER, IDC_DELAY_EDIT, ID_APP_ABOUT, IDC_MIXER,
                            IDCANCEL,         IDC_TUNER,      IDC_OUTPUT_DEVICE, IDC_INPUT_DEVICE};
    for (int id : expected) {
        QTest::keyClick(rig.Window()->focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(rig.Window()->focusWidget(), rig.host.Control(id)) << "expected " << id;
    }
    QTest::keyClick(rig.Window()->focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(rig.Window()->focusWidget(), rig.OutputList());
}

// Esc, the close box and the Exit button are one command, id 2, which
// closes the window and ends the running loop with 2.
TEST(MainWindowKeys, EveryWayOutQuitsWithTwo) {
    const std::vector<std::pair<const char*, std::function<void(CWindowRig&)>>> ways = {
        {"Esc", [](CWindowRig& r) { QTest::keyClick(r.Window()->focusWidget(), Qt::Key_Escape); }},
        {"close box", [](CWindowRig& r) { r.Window()->close(); }},
        {"Exit", [](CWindowRig& r) { QTest::mouseClick(r.Button(IDCANCEL), Qt::LeftButton); }},
        {"Enter on Exit", [](CWindowRig& r) {
             r.Button(IDCANCEL)->setFocus();
             QTest::keyClick(r.Button(IDCANCEL), Qt::Key_Return);
         }},
    };
    for (const auto& [name, leave] : ways) {
        CWindowRig rig;
        rig.Open();
        rig.dialog.Play();
        EXPECT_EQ(rig.RunLoop([&, leave = leave] { leave(rig); }), 2) << name;
        EXPECT_EQ(rig.log.Commands(IDCANCEL), std::vector<uint32_t>{BN_CLICKED}) << name;
        EXPECT_FALSE(rig.Window()->isVisible()) << name;
        // Nothing reaches the logic once the window is gone.
        const size_t before = rig.log.messages.size();
        rig.RunFor(3 * kBufferFrames);
        EXPECT_EQ(rig.log.messages.size(), before) << name;
    }
}

TEST(MainWindowKeys, EnterOutsidePushButtonsDoesNothing) {
    CWindowRig rig;
    rig.Open();
    for (QWidget* target : {static_cast<QWidget*>(rig.Slider()), static_cast<QWidget*>(rig.DelayBox())}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
    }
    EXPECT_TRUE(rig.Window()->isVisible());
    EXPECT_TRUE(rig.log.Commands(IDCANCEL).empty());
    EXPECT_EQ(rig.DelayBox()->text(), "1.0");
    EXPECT_EQ(rig.Slider()->value(), 10);
    EXPECT_EQ(rig.dialog.Engine().DelayCount(), 10u);
}

TEST(MainWindowKeys, AltAClicksAbout) {
    CWindowRig rig;
    rig.Open();
    QString title;
    // The mnemonic clicks its button a moment later (Qt animates the
    // click); look for the box until it is there.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            title = box->windowTitle();
            box->close();
        }
    });
    closer.start(10);
    ASSERT_TRUE(rig.Window()->isActiveWindow());  // shortcuts need an active window
    QTest::keyClick(rig.Window()->focusWidget(), Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !title.isEmpty(); }, 10000));
    EXPECT_EQ(rig.log.Commands(ID_APP_ABOUT), std::vector<uint32_t>{BN_CLICKED});
    EXPECT_EQ(title, "About Morvane");
}

// The whole program side: application, host, window logic and loop.
TEST(MainWindowRun, RunQtMainWindowEndsWithTheExitCommand) {
    sim::CSimWaveApi sim;
    sim.AddCaptureDevice("In");
    sim.AddPlaybackDevice("Out");
    CNoTuner tuner;
    const char* argv[] = {"morvane", "-delay", "2.5", nullptr};
    SetProcessArguments(3, argv);
    QString shownDelay;
    QTimer::singleShot(0, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->windowTitle() != "Morvane" || !top->isVisible()) continue;
            if (auto* box = top->findChild<QLineEdit*>()) shownDelay = box->text();
            for (auto* button : top->findChildren<QPushButton*>())
                if (button->text() == "Exit") QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(10000);
    int argc = 3;
    char* args[] = {const_cast<char*>(argv[0]), const_cast<char*>(argv[1]), const_cast<char*>(argv[2]), nullptr};
    EXPECT_EQ(RunQtMainWindow(argc, args, sim, tuner), 2);
    EXPECT_EQ(shownDelay, "2.5");
    SetProcessArguments(0, nullptr);
}

// Captions fit their controls in the dialog font, and controls stay inside
// the window and their frames.
TEST(MainWindowLayout, NothingClippedOrOutside) {
    CWindowRig rig;
    rig.Open();
    const QRect client = rig.Window()->rect();
    std::vector<CQtGroupFrame*> frames;
    for (QWidget* child : rig.Window()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(client.contains(child->geometry())) << child->metaObject()->className();
        if (auto* label = qobject_cast<QLabel*>(child)) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->text().toStdString();
        }
        if (auto* button = qobject_cast<QPushButton*>(child); button != nullptr && !button->text().isEmpty()) {
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text().remove('&')) + 8, button->width())
                << button->text().toStdString();
        }
        if (auto* frame = dynamic_cast<CQtGroupFrame*>(child)) {
            EXPECT_LE(frame->TitleRect().right(), frame->width()) << frame->Title().toStdString();
            frames.push_back(frame);
        }
    }
    // Every control lies below the top line of the frame around it, and
    // below its list where it has one.
    ASSERT_EQ(frames.size(), 4u);
    for (const int id : {IDC_PLAY, IDC_STOP, IDC_INPUT_DEVICE, IDC_OUTPUT_DEVICE, IDC_DELAY_SLIDER, IDC_DELAY_EDIT,
                         IDC_INPUT_LEFT, IDC_INPUT_RIGHT, IDC_OUTPUT_LEFT, IDC_OUTPUT_RIGHT}) {
        const QRect control = rig.host.Control(id)->geometry();
        int around = 0;
        for (CQtGroupFrame* frame : frames) {
            const QRect inside = frame->geometry().adjusted(1, frame->TitleRect().bottom() + 1, -1, -1);
            if (!frame->geometry().intersects(control)) continue;
            ++around;
            EXPECT_TRUE(inside.contains(control)) << id << " in " << frame->Title().toStdString();
        }
        EXPECT_EQ(around, 1) << id;
    }
    for (int id : kMeters) {
        const QRect meter = rig.Meter(id)->geometry();
        const QComboBox* list = id <= IDC_INPUT_RIGHT ? rig.InputList() : rig.OutputList();
        EXPECT_GT(meter.top(), list->geometry().bottom()) << id;
    }
    const QRect box = rig.DelayBox()->geometry();
    EXPECT_LE(rig.DelayBox()->fontMetrics().horizontalAdvance("29.9"), box.width() - 6);
    EXPECT_GE(box.height(), rig.DelayBox()->fontMetrics().height() + 4);
}

}  // namespace
}  // namespace morvane::qttest
