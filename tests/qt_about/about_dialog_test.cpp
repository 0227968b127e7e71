// The real About box: laid out from its template, the picture animating in
// the placeholder's place, the build text filled in, and closing at once
// while a frame's time is being waited.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFontMetrics>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <functional>

#include "resource.h"
#include "ui/about_dlg.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_about_dialog.h"
#include "url_catcher.h"

namespace morvane::qttest {
namespace {

struct BoxRun {
    int code = -1;
    bool opened = false;
};

// Opens the box, runs `inside` once it shows, and waits for the run to end.
BoxRun RunBox(const std::function<void(CQtAboutDialog&)>& inside) {
    BoxRun run;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = dynamic_cast<CQtAboutDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || run.opened || !dialog->isVisible()) return;
        run.opened = true;
        poll.stop();
        // A box that stays open past the test's end is closed by force.
        QTimer::singleShot(20000, dialog, [dialog] { dialog->done(-1); });
        inside(*dialog);
    });
    poll.start();
    run.code = RunQtAboutDialog(nullptr);
    return run;
}

QImage Grab(QWidget* widget) {
    widget->grab();
    return widget->grab().toImage();
}

int CountColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

std::vector<QImage> AboutFrames() {
    QImageReader reader(QStringLiteral(MORVANE_RES_DIR "/about.gif"));
    std::vector<QImage> frames;
    for (QImage frame = reader.read(); !frame.isNull(); frame = reader.read())
        frames.push_back(frame.convertToFormat(QImage::Format_RGB32));
    return frames;
}

bool ShowsOneOf(const QImage& shown, const std::vector<QImage>& frames) {
    const QImage image = shown.convertToFormat(QImage::Format_RGB32);
    for (const QImage& frame : frames)
        if (frame == image) return true;
    return false;
}

TEST(AboutBox, OpensFromItsTemplateWithThePictureInThePlaceholdersPlace) {
    const std::vector<QImage> frames = AboutFrames();
    ASSERT_EQ(frames.size(), 8u);
    const BoxRun run = RunBox([&](CQtAboutDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About Morvane"));
        const CDialogUnits units(dialog.font());
        EXPECT_EQ(dialog.size(), units.Size(216, 76));
        EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed size";

        QWidget* picture = dialog.Control(IDC_ABOUT_PICTURE);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->geometry(), QRect(units.X(16), units.Y(16), 59, 76));
        // The thread's first frame reaches the widget through the event loop.
        QImage shown;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            shown = Grab(picture);
            return CountColours(shown) > 4;
        }));
        if (qFuzzyCompare(picture->devicePixelRatioF(), 1.0)) {
            EXPECT_TRUE(ShowsOneOf(shown, frames));
        }

        auto* text = qobject_cast<QLabel*>(dialog.Control(IDC_ABOUT_TEXT));
        ASSERT_NE(text, nullptr);
        const QStringList lines = text->text().split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 3);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^Morvane Build \\d{8}$")).match(lines[0]).hasMatch())
            << lines[0].toStdString();
        EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Copyright \u00A9 ")));
        // Each line fits on its own, and all three clear the web button.
        const QFontMetrics metrics(text->font());
        for (const QString& line : lines) EXPECT_LE(metrics.horizontalAdvance(line), text->width()) << line.toStdString();
        EXPECT_LE(text->y() + 3 * metrics.lineSpacing(), dialog.Control(IDC_ABOUT_WEB)->y());

        auto* web = qobject_cast<QPushButton*>(dialog.Control(IDC_ABOUT_WEB));
        ASSERT_NE(web, nullptr);
        EXPECT_EQ(web->text().toStdString(), MakerWebCaption());
        auto* ok = qobject_cast<QPushButton*>(dialog.Control(IDOK));
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(dialog.focusWidget(), ok);
        ok->click();
    });
    EXPECT_TRUE(run.opened);
    EXPECT_EQ(run.code, 1);
}

TEST(AboutBox, EnterEscapeOkAndTheCloseBoxCloseItAtOnceWhileAnimating) {
    struct Way {
        const char* name;
        std::function<void(CQtAboutDialog&)> close;
        int code;
    };
    const Way ways[] = {
        {"Enter", [](CQtAboutDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }, 1},
        {"Escape", [](CQtAboutDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 2},
        {"OK", [](CQtAboutDialog& d) { QTest::mouseClick(d.Control(IDOK), Qt::LeftButton); }, 1},
        {"close box", [](CQtAboutDialog& d) { d.close(); }, 2},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        bool hiddenAtOnce = false;
        const BoxRun run = RunBox([&](CQtAboutDialog& dialog) {
            // Into the fourth frame's second-long wait.
            QTest::qWait(450);
            way.close(dialog);
            // Gone before the key or click has returned, not after the
            // frame's time.
            hiddenAtOnce = !dialog.isVisible();
        });
        EXPECT_TRUE(run.opened);
        EXPECT_EQ(run.code, way.code);
        EXPECT_TRUE(hiddenAtOnce);
    }
}

TEST(AboutBox, TheWebButtonOpensTheMakersPageAndThePictureTakesNoClicks) {
    CUrlCatcher browser;
    const QString scheme = QUrl(QString::fromStdString(MakerWebAddress())).scheme();
    QDesktopServices::setUrlHandler(scheme, &browser, "Open");
    bool stayedOpen = false;
    const BoxRun run = RunBox([&](CQtAboutDialog& dialog) {
        QTest::mouseClick(dialog.Control(IDC_ABOUT_PICTURE), Qt::LeftButton);
        QTest::mouseClick(dialog.Control(IDC_ABOUT_WEB), Qt::LeftButton);
        stayedOpen = dialog.isVisible();
        dialog.done(1);
    });
    QDesktopServices::unsetUrlHandler(scheme);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(browser.opened, QStringList{QString::fromStdString(MakerWebAddress())});
}

// Kept for people to look at, at 100 % and at twice the density.
TEST(AboutScreenshot, Drawn) {
    const BoxRun run = RunBox([&](CQtAboutDialog& dialog) {
        QWidget* picture = dialog.Control(IDC_ABOUT_PICTURE);
        EXPECT_TRUE(QTest::qWaitFor([&] { return CountColours(Grab(picture)) > 4; }));
        const QImage shot = Grab(&dialog);
        const qreal ratio = dialog.devicePixelRatioF();
        EXPECT_EQ(shot.size(), dialog.size() * ratio);
        const QString dir = qEnvironmentVariable("MORVANE_SCREENSHOT_DIR", QDir::currentPath());
        QDir().mkpath(dir);
        EXPECT_TRUE(shot.save(QStringLiteral("%1/about-box@%2x.png").arg(dir).arg(ratio)));
        dialog.done(1);
    });
    EXPECT_TRUE(run.opened);
}

}  // namespace
}  // namespace morvane::qttest
