#include "platform/Stretch.h"

#include "kernels/area.h"

namespace vistrel {

void HalftoneStretch(const Surface& source, Surface& destination) {
    if (source.isNull() || destination.isNull()) return;
    const QImage& from = source.image();
    QImage& to = destination.image();
    korvex::ResampleArea(reinterpret_cast<const Pixel*>(from.constBits()), static_cast<std::size_t>(from.width()),
                         static_cast<std::size_t>(from.height()), static_cast<std::size_t>(from.bytesPerLine() / 4),
                         reinterpret_cast<Pixel*>(to.bits()), static_cast<std::size_t>(to.width()),
                         static_cast<std::size_t>(to.height()));
}

}  // namespace vistrel
