#pragma once
// The About box, run modally over the main window.

class QWidget;

namespace morvane {

void RunQtAboutBox(QWidget* owner);

}  // namespace morvane
