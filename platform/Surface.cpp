#include "platform/Surface.h"

namespace vistrel {

Surface::Surface(int width, int height, ColorValue background) { reset(width, height, background); }

Surface::Surface(QImage image) : image_(std::move(image)) {
    if (!image_.isNull() && image_.format() != QImage::Format_RGB32)
        image_.convertTo(QImage::Format_RGB32);
}

void Surface::clear(ColorValue background) {
    if (!image_.isNull()) image_.fill(OpaquePixel(background));
}

void Surface::reset(int width, int height, ColorValue background) {
    if (width <= 0 || height <= 0) {
        image_ = QImage();
        return;
    }
    image_ = QImage(width, height, QImage::Format_RGB32);
    clear(background);
}

}  // namespace vistrel
