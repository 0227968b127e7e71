// Grabs of the whole window: the right size at the device pixel ratio, and
// really drawn. The pictures are kept for people to look at: at start-up
// and while running with the meters up and the band filling.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QSet>

#include "resource.h"
#include "support/qt_rig/window_rig.h"

namespace morvane::qttest {
namespace {

QString ShotPath(const QString& name) {
    const QString dir = qEnvironmentVariable("MORVANE_SCREENSHOT_DIR", QDir::currentPath() + "/screenshots");
    QDir().mkpath(dir);
    const double scale = qEnvironmentVariableIntValue("QT_SCALE_FACTOR") > 1
                             ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                             : 1.0;
    return QStringLiteral("%1/%2@%3x.png").arg(dir, name).arg(scale);
}

QImage Grab(QWidget* window) {
    window->grab();  // the slider's ticks come out right from the second grab on
    return window->grab().toImage();
}

void ExpectDrawn(const QImage& image, QWidget* window) {
    const qreal ratio = window->devicePixelRatioF();
    EXPECT_EQ(image.width(), qRound(window->width() * ratio));
    EXPECT_EQ(image.height(), qRound(window->height() * ratio));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 20);
    // Text is drawn: the caption of the "Input Device" frame, top left,
    // is more than its frame line.
    const QRgb background = image.pixel(1, 1);
    int inked = 0;
    for (int y = 0; y < qRound(24 * ratio); ++y)
        for (int x = 0; x < image.width() / 4; ++x)
            if (image.pixel(x, y) != background) ++inked;
    EXPECT_GT(inked, qRound(200 * ratio));
}

TEST(Screenshot, AtStartAndWhileRunning) {
    CWindowRig rig({"-delay", "4.0"}, {ConstantSignal(-26000, 9000)});
    rig.Open();
    const QImage start = Grab(rig.Window());
    ExpectDrawn(start, rig.Window());
    EXPECT_TRUE(start.save(ShotPath("main-window")));

    rig.dialog.Play();
    rig.host.ButtonSetCheck(IDC_PLAY, true);
    rig.host.ButtonSetCheck(IDC_STOP, false);
    rig.RunFor(25 * kBufferFrames);
    const QImage running = Grab(rig.Window());
    ExpectDrawn(running, rig.Window());
    EXPECT_NE(running, start);
    EXPECT_TRUE(running.save(ShotPath("main-window-running")));
}

}  // namespace
}  // namespace morvane::qttest
