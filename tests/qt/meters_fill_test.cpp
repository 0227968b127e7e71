// The level meters and the slider's fill band on Qt widgets, fed by the
// simulated devices through the Qt event queue.
#include <gtest/gtest.h>

#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <QComboBox>
#include <QTest>

#include "resource.h"
#include "ui/qt/qt_delay_slider.h"
#include "support/qt_rig/window_rig.h"

namespace morvane::qttest {
namespace {

// Pixels of the band's colour along the middle of the slider's channel.
int BandPixels(CQtDelaySlider* slider) {
    const QColor band = slider->palette().color(QPalette::Highlight);
    slider->grab();  // the first grab of a slider paints its ticks differently
    const QImage image = slider->grab().toImage();
    const QRectF rect = slider->BandRect();
    const int row = rect.isEmpty() ? image.height() / 2 : static_cast<int>(rect.center().y());
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixelColor(x, row) == band) ++count;
    return count;
}

TEST(LevelMeters, FollowALoudAndASilentInput) {
    // Device 0 loud, device 1 silent.
    CWindowRig rig({}, {ConstantSignal(-20000, 12000), ConstantSignal(0, 0)});
    rig.Open();
    QTest::mouseClick(rig.Button(IDC_PLAY), Qt::LeftButton);
    EXPECT_TRUE(rig.Button(IDC_PLAY)->isChecked());
    EXPECT_FALSE(rig.Button(IDC_STOP)->isChecked());
    rig.RunFor(kBufferFrames);
    EXPECT_EQ(rig.Meter(IDC_INPUT_LEFT)->value(), 20000);
    EXPECT_EQ(rig.Meter(IDC_INPUT_RIGHT)->value(), 12000);
    EXPECT_EQ(rig.Meter(IDC_OUTPUT_LEFT)->value(), 0);
    // The output follows once the delay (1.0 s) has filled and a buffer has played.
    rig.RunFor(11 * kBufferFrames);
    EXPECT_EQ(rig.Meter(IDC_OUTPUT_LEFT)->value(), 20000);
    EXPECT_EQ(rig.Meter(IDC_OUTPUT_RIGHT)->value(), 12000);

    // The user stops, picks the silent device and plays again.
    QTest::mouseClick(rig.Button(IDC_STOP), Qt::LeftButton);
    EXPECT_FALSE(rig.dialog.Engine().IsPlaying());
    rig.InputList()->setFocus();
    QTest::keyClick(rig.InputList(), Qt::Key_Down);
    EXPECT_EQ(rig.dialog.Engine().InputDevice(), 1);
    QTest::mouseClick(rig.Button(IDC_PLAY), Qt::LeftButton);
    rig.RunFor(13 * kBufferFrames);
    for (int id : {IDC_INPUT_LEFT, IDC_INPUT_RIGHT, IDC_OUTPUT_LEFT, IDC_OUTPUT_RIGHT})
        EXPECT_EQ(rig.Meter(id)->value(), 0) << id;
}

TEST(FillBand, GrowsDuringTheFillAndStaysWhileRunning) {
    CWindowRig rig({"-delay", "5.0"});
    rig.Open();
    CQtDelaySlider* slider = rig.Slider();
    ASSERT_EQ(slider->value(), 50);
    EXPECT_TRUE(slider->BandRect().isEmpty());
    const int before = BandPixels(slider);
    rig.dialog.Play();

    std::vector<int> ends;
    std::vector<double> widths;
    std::vector<int> pixels;
    for (int arrival = 1; arrival <= 60; ++arrival) {
        rig.RunFor(kBufferFrames);
        ends.push_back(slider->SelectionEnd());
        widths.push_back(slider->BandRect().width());
        if (arrival == 1 || arrival == 10 || arrival == 30 || arrival == 50 || arrival == 60)
            pixels.push_back(BandPixels(slider));
    }
    for (int i = 0; i < 60; ++i) EXPECT_EQ(ends[i], std::min(i, 49)) << "arrival " << i + 1;
    EXPECT_EQ(widths[0], 0.0);
    for (int i = 1; i < 50; ++i) EXPECT_GT(widths[i], widths[i - 1]) << "arrival " << i + 1;
    for (int i = 50; i < 60; ++i) EXPECT_EQ(widths[i], widths[49]) << "arrival " << i + 1;
    // On screen: nothing at first, then a growing band that stays.
    EXPECT_EQ(pixels[0], before);
    EXPECT_GT(pixels[1], pixels[0]);
    EXPECT_GT(pixels[2], pixels[1] + 20);
    EXPECT_EQ(pixels[4], pixels[3]);
    EXPECT_EQ(slider->SelectionStart(), 0);
}

}  // namespace
}  // namespace morvane::qttest
