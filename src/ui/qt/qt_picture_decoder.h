#pragma once
// Pictures decoded by Qt's image readers (the GIF reader among them), one
// QImage each.

#include <QImage>

#include "ui/picture_canvas.h"

namespace morvane {

class CQtPicture final : public IDecodedPicture {
public:
    explicit CQtPicture(QImage image) : m_image(std::move(image)) {}
    CanvasSize Size() const override { return {m_image.width(), m_image.height()}; }
    const QImage& Image() const { return m_image; }

private:
    QImage m_image;
};

class CQtPictureDecoder final : public IPictureDecoder {
public:
    std::unique_ptr<IDecodedPicture> Decode(std::span<const uint8_t> bytes) override;
};

}  // namespace morvane
