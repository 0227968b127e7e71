#include "ui/qt/qt_icons.h"

#include "resource.h"

// Outside any namespace, as the resource initialiser requires. Naming it
// also keeps the linker from dropping the embedded images from the static
// library.
static void InitProgramResources() { Q_INIT_RESOURCE(morvane); }

namespace morvane {

QIcon ProgramIcon(int iconId) {
    static const bool loaded = (InitProgramResources(), true);
    (void)loaded;
    QIcon icon;
    switch (iconId) {
        case IDR_MAINFRAME:
            for (int size : {16, 24, 32, 48, 64, 128, 256})
                icon.addFile(QStringLiteral(":/icons/app-%1.png").arg(size), QSize(size, size));
            break;
        case IDI_PLAY: icon.addFile(QStringLiteral(":/icons/play.png")); break;
        case IDI_STOP: icon.addFile(QStringLiteral(":/icons/stop.png")); break;
        default: break;
    }
    return icon;
}

}  // namespace morvane
