#pragma once
// A persistent image: the bitmap a picture box or a tool window draws into and
// repaints itself from. 32 bits a pixel, bytes blue, green, red, fourth
// (QImage::Format_RGB32), rows top-down.

#include <QImage>

#include "kernels/korvex.h"

namespace vistrel {

using korvex::ColorValue;
using korvex::Pixel;

// 0x00BBGGRR colour value to the surface's opaque 0xFFRRGGBB.
constexpr Pixel OpaquePixel(ColorValue color) {
    return 0xFF000000u | ((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
}

class Surface {
public:
    Surface() = default;
    // A width x height image filled with the background colour.
    Surface(int width, int height, ColorValue background = 0);
    // Adopts a decoded picture; it is converted to the surface format when it differs.
    explicit Surface(QImage image);

    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    bool isNull() const { return image_.isNull(); }

    // Every pixel set to the colour.
    void clear(ColorValue background);
    // A new size, every pixel set to the colour; the old content is dropped.
    void reset(int width, int height, ColorValue background);
    // No image at all (size 0 x 0).
    void release() { image_ = QImage(); }

    Pixel* row(int y) { return reinterpret_cast<Pixel*>(image_.scanLine(y)); }
    const Pixel* row(int y) const { return reinterpret_cast<const Pixel*>(image_.constScanLine(y)); }
    // The pixel with its fourth byte cleared: 0x00RRGGBB.
    Pixel pixel(int x, int y) const { return row(y)[x] & 0x00FFFFFFu; }

    const QImage& image() const { return image_; }
    QImage& image() { return image_; }

private:
    QImage image_;
};

}  // namespace vistrel
