#include "platform/Stretch.h"

namespace vistrel {

// Qt's smooth scaling averages the covered source area when reducing and
// interpolates between neighbours when enlarging, each axis on its own: the
// halftone stretch's behaviour. It splits large pictures over the cores itself.
void HalftoneStretch(const Surface& source, Surface& destination) {
    if (source.isNull() || destination.isNull()) return;
    const int width = destination.width();
    const int height = destination.height();
    QImage scaled = source.image().scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.format() != QImage::Format_RGB32) scaled.convertTo(QImage::Format_RGB32);
    destination.image() = std::move(scaled);
}

}  // namespace vistrel
