// The About box as the program opens it: from the main window's "&About..."
// button, over the real host and window logic with the wave simulator behind
// them, while the delay line runs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "resource.h"
#include "support/qt_rig/window_rig.h"
#include "ui/about_text.h"
#include "ui/qt/qt_about_dialog.h"

namespace morvane::qttest {
namespace {

// "Mmm dd yyyy" as yyyymmdd, worked out here rather than by the code under
// test, so that a box showing some other date fails.
std::string EightDigitDate(const std::string& date) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* found = std::strstr(kMonths, date.substr(0, 3).c_str());
    if (date.size() != 11 || found == nullptr) return "bad build date: " + date;
    const int month = static_cast<int>(found - kMonths) / 3 + 1;
    std::string day = date.substr(4, 2);
    if (day[0] == ' ') day[0] = '0';
    return date.substr(7, 4) + (month < 10 ? "0" : "") + std::to_string(month) + day;
}

QImage Grab(QWidget* widget) {
    widget->grab();
    return widget->grab().toImage();
}

bool Drawn(const QImage& picture) {
    // More than the canvas's fill colours: a frame of the picture is in it.
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) colours.insert(picture.pixel(x, y));
    return colours.size() > 4;
}

// Clicks "&About..." on a playing main window and runs `inside` once the box
// shows; returns when the box's modal run has returned to the main window.
void ClickAbout(CWindowRig& rig, const std::function<void(CQtAboutDialog&)>& inside) {
    bool ran = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = dynamic_cast<CQtAboutDialog*>(QApplication::activeModalWidget());
        if (box == nullptr || ran || !box->isVisible()) return;
        ran = true;
        poll.stop();
        // A box left open by a failed check is closed rather than hang the run.
        QTimer::singleShot(20000, box, [box] { box->done(-1); });
        inside(*box);
    });
    poll.start();
    QTest::mouseClick(rig.Button(ID_APP_ABOUT), Qt::LeftButton);
    EXPECT_TRUE(ran) << "the About box did not open";
}

TEST(AboutFromMainWindow, ShowsTheBuildAnimatesKeepsTheLineRunningAndEscapeClosesIt) {
    CWindowRig rig({}, {ConstantSignal(3000, 4000)});
    rig.Open();
    rig.dialog.Play();
    rig.RunFor(2 * kBufferFrames);
    const uint32_t receivedBefore = rig.dialog.Engine().ReceivedCount();
    ASSERT_EQ(receivedBefore, 2u);

    QPointer<QWidget> picture;
    uint32_t receivedInside = 0;
    int closedWith = 0;
    bool hiddenAtOnce = false;
    ClickAbout(rig, [&](CQtAboutDialog& box) {
        EXPECT_EQ(box.parentWidget(), rig.Window()) << "owned by the main window";
        const QRect owner = rig.Window()->frameGeometry();
        // Centred over it, give or take the halving of odd sizes.
        const QPoint offCentre = box.frameGeometry().center() - owner.center();
        EXPECT_LE(std::abs(offCentre.x()), 2);
        EXPECT_LE(std::abs(offCentre.y()), 2);

        auto* text = qobject_cast<QLabel*>(box.Control(IDC_ABOUT_TEXT));
        ASSERT_NE(text, nullptr);
        const QString firstLine = text->text().section(QLatin1Char('\n'), 0, 0);
        EXPECT_EQ(firstLine.toStdString(), "Morvane Build " + EightDigitDate(kBuildDate));

        // Two grabs a frame apart differ. The line runs on between them:
        // its notifications are handled while the box is open.
        picture = box.Control(IDC_ABOUT_PICTURE);
        ASSERT_NE(picture, nullptr);
        QImage first;
        ASSERT_TRUE(QTest::qWaitFor([&] { return Drawn(first = Grab(picture)); }));
        rig.RunFor(5 * kBufferFrames);
        receivedInside = rig.dialog.Engine().ReceivedCount();
        EXPECT_TRUE(QTest::qWaitFor([&] { return Grab(picture) != first; }, 5000))
            << "the picture stays on one frame";

        QTest::keyClick(&box, Qt::Key_Escape);
        // Closed by the key event itself, not at the end of the frame's wait.
        hiddenAtOnce = !box.isVisible();
        closedWith = box.result();
    });
    EXPECT_EQ(receivedInside, receivedBefore + 5);
    EXPECT_TRUE(hiddenAtOnce);
    EXPECT_EQ(closedWith, IDCANCEL);
    // The run has returned and taken its picture, with its thread, along.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(picture.isNull());
    EXPECT_TRUE(rig.dialog.Engine().IsPlaying());
    rig.RunFor(kBufferFrames);
    EXPECT_EQ(rig.dialog.Engine().ReceivedCount(), receivedBefore + 6);
    EXPECT_EQ(rig.Meter(IDC_INPUT_RIGHT)->value(), 4000);
}

// The open box over the running main window, kept for people to look at.
TEST(AboutFromMainWindow, Screenshot) {
    CWindowRig rig({}, {ConstantSignal(-20000, 12000)});
    rig.Open();
    rig.dialog.Play();
    rig.RunFor(3 * kBufferFrames);
    ClickAbout(rig, [&](CQtAboutDialog& box) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return Drawn(Grab(box.Control(IDC_ABOUT_PICTURE))); }));
        // The offscreen platform grabs each top-level window on its own:
        // the box is painted over the main window where it stands.
        QImage shot = Grab(rig.Window());
        const QImage over = Grab(&box);
        const qreal ratio = rig.Window()->devicePixelRatioF();
        {
            QPainter painter(&shot);
            painter.drawImage(QPointF(box.pos() - rig.Window()->pos()) * ratio, over);
        }
        const QString dir = qEnvironmentVariable("MORVANE_SCREENSHOT_DIR", QDir::currentPath() + "/screenshots");
        QDir().mkpath(dir);
        EXPECT_TRUE(shot.save(dir + QStringLiteral("/about-from-main-window.png")));
        QTest::keyClick(&box, Qt::Key_Escape);
    });
}

}  // namespace
}  // namespace morvane::qttest
