#include "ui/qt/qt_application.h"

#include <QApplication>
#include <memory>
#include <vector>

#include "app/app_run.h"
#include "ui/main_dlg.h"
#include "ui/qt/qt_dialog_host.h"

namespace morvane {

int RunQtMainWindow(int& argc, char** argv, IWaveApi& wave, ITuner& tuner) {
    // QApplication takes its own options (-platform, -style, ...) out of the
    // vector it is given; give it a copy so that the option lookup, which
    // holds the process's vector, keeps seeing all of it.
    int qtArgc = argc;
    std::vector<char*> qtArgv(argv, argv + argc);
    qtArgv.push_back(nullptr);
    std::unique_ptr<QApplication> application;
    if (QApplication::instance() == nullptr) application = std::make_unique<QApplication>(qtArgc, qtArgv.data());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.morvane.Morvane"));

    CQtDialogHost host;
    CMainDlg dialog(wave, host, tuner);
    return RunMainWindow(host, dialog);
}

}  // namespace morvane
