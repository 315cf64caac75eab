// The one conversion every picture Qt's readers decode goes through on its way to the
// surface, and the hand-over of a picture decoded whole.

#include <QImage>

#include <cstdint>

#include "decoding/readers/RowOutput.h"

namespace vistrel {
namespace {

// Straight (non-premultiplied) alpha over an opaque background. Turns the ARGB32 image
// into an opaque RGB32 one.
void CompositeOverBackground(QImage& image, ColorValue background) {
    Q_ASSERT(image.format() == QImage::Format_ARGB32);
    const Pixel bg = OpaquePixel(background);
    const auto width = static_cast<std::size_t>(image.width());
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<Pixel*>(image.scanLine(y));
        for (std::size_t x = 0; x < width; ++x) {
            const Pixel s = row[x];
            row[x] = OverBackground((s >> 16) & 0xFF, (s >> 8) & 0xFF, s & 0xFF, s >> 24, bg);
        }
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
}

}  // namespace

bool ToOpaqueRgb32(QImage& image, ColorValue background) {
    if (image.hasAlphaChannel()) {
        image.convertTo(QImage::Format_ARGB32);
        if (image.isNull()) return false;
        CompositeOverBackground(image, background);
    } else if (image.format() != QImage::Format_RGB32) {
        image.convertTo(QImage::Format_RGB32);
    }
    return !image.isNull();
}

DecodeResult DeliveredWhole(QImage picture, RowReceiver* receiver) {
    DecodeResult result;
    result.surface.emplace(std::move(picture));
    if (receiver != nullptr &&
        !(receiver->PictureStarted(*result.surface) && receiver->RowsReady(result.surface->height()))) {
        receiver->PictureDropped();
        return DecodeResult::Failed(DecodeError::Cancelled);
    }
    return result;
}

}  // namespace vistrel
