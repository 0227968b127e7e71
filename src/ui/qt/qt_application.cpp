#include "ui/qt/qt_application.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/app_run.h"
#include "ui/main_dlg.h"
#include "ui/qt/qt_dialog_host.h"

namespace morvane {
namespace {

// What Qt says while it opens the display; shown only if it succeeds.
std::vector<QString> g_heldMessages;

// Without a display Qt's platform set-up warns twice and ends the process
// through abort(), core dump and all: say in one line what is missing and
// what to do instead.
// Installed only while the display is being opened.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr,
                     "morvane: no display could be opened (DISPLAY or WAYLAND_DISPLAY unset or unreachable); "
                     "morvane --headless runs without one\n");
        std::_Exit(1);
    }
    g_heldMessages.push_back(qFormatLogMessage(type, context, text));
}

}  // namespace

int RunQtMainWindow(int& argc, char** argv, IWaveApi& wave, ITuner& tuner) {
    // QApplication takes its own options (-platform, -style, ...) out of the
    // vector it is given; give it a copy so that the option lookup, which
    // holds the process's vector, keeps seeing all of it.
    int qtArgc = argc;
    std::vector<char*> qtArgv(argv, argv + argc);
    qtArgv.push_back(nullptr);
    std::unique_ptr<QApplication> application;
    if (QApplication::instance() == nullptr) {
        const QtMessageHandler previous = qInstallMessageHandler(OnQtMessage);
        application = std::make_unique<QApplication>(qtArgc, qtArgv.data());
        qInstallMessageHandler(previous);
        for (const QString& message : g_heldMessages) std::fprintf(stderr, "%s\n", qPrintable(message));
        g_heldMessages.clear();
    }
    QGuiApplication::setDesktopFileName(QStringLiteral("org.morvane.Morvane"));

    CQtDialogHost host;
    CMainDlg dialog(wave, host, tuner);
    return RunMainWindow(host, dialog);
}

}  // namespace morvane
