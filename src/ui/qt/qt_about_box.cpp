#include "ui/qt/qt_about_box.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QVBoxLayout>

namespace morvane {

void RunQtAboutBox(QWidget* owner) {
    QDialog box(owner);
    box.setWindowTitle(QStringLiteral("About Morvane"));
    auto* layout = new QVBoxLayout(&box);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    layout->addWidget(buttons);
    box.exec();
}

}  // namespace morvane
