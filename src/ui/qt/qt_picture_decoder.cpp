#include "ui/qt/qt_picture_decoder.h"

#include <limits>

namespace morvane {

std::unique_ptr<IDecodedPicture> CQtPictureDecoder::Decode(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return nullptr;
    // The format is told from the data itself.
    QImage image = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
    if (image.isNull()) return nullptr;
    return std::make_unique<CQtPicture>(std::move(image));
}

}  // namespace morvane
