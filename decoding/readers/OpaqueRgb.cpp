// The one conversion every reader's pixels go through on their way to the surface.

#include <QImage>

#include <cstdint>

#include "decoding/Decode.h"

namespace vistrel {
namespace detail {
namespace {

// Straight (non-premultiplied) alpha over an opaque background, rounded to
// the nearest level; fully transparent gives the background exactly, fully
// opaque the source exactly. Turns the ARGB32 image into an opaque RGB32 one.
void CompositeOverBackground(QImage& image, ColorValue background) {
    Q_ASSERT(image.format() == QImage::Format_ARGB32);
    const Pixel bg = OpaquePixel(background);
    const std::uint32_t bgR = (bg >> 16) & 0xFF, bgG = (bg >> 8) & 0xFF, bgB = bg & 0xFF;
    const auto width = static_cast<std::size_t>(image.width());
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<Pixel*>(image.scanLine(y));
        for (std::size_t x = 0; x < width; ++x) {
            const Pixel s = row[x];
            const std::uint32_t a = s >> 24;
            if (a == 0xFF) {
                continue;
            }
            const std::uint32_t ia = 0xFF - a;
            const std::uint32_t r = (((s >> 16) & 0xFF) * a + bgR * ia + 127) / 255;
            const std::uint32_t g = (((s >> 8) & 0xFF) * a + bgG * ia + 127) / 255;
            const std::uint32_t b = ((s & 0xFF) * a + bgB * ia + 127) / 255;
            row[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
}

}  // namespace

// The decoded picture, or a band of its rows, as an opaque Format_RGB32 image, converted once.
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

}  // namespace detail

}  // namespace vistrel
