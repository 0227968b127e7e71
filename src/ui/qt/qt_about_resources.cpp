#include "ui/qt/qt_about_resources.h"

#include <QFile>
#include <QString>

// Outside any namespace, as the resource initialiser requires. Naming it
// also keeps the linker from dropping the embedded picture from the static
// library.
static void InitAboutResources() { Q_INIT_RESOURCE(about); }

namespace morvane {

CQtProgramResources::CQtProgramResources() {
    static const bool loaded = (InitAboutResources(), true);
    (void)loaded;
}

std::optional<std::vector<uint8_t>> CQtProgramResources::ReadResource(const ResourceName& name,
                                                                       std::string_view type) const {
    const QString nameText = std::holds_alternative<uint16_t>(name)
                                 ? QString::number(std::get<uint16_t>(name))
                                 : QString::fromStdString(std::get<std::string>(name));
    // A name with a path separator would reach outside its type.
    if (nameText.isEmpty() || nameText.contains(QLatin1Char('/')) || type.empty() ||
        type.find('/') != std::string_view::npos)
        return std::nullopt;
    const QString typeText = QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()));
    QFile file(QStringLiteral(":/%1/%2").arg(typeText, nameText));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace morvane
