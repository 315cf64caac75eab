#include "platform/ScaledRaster.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vistrel {

namespace {

// Floor division, for positions left of or above the origin.
int FloorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

ScaledPlacement PlaceScaled(QSize raster, QSize room, QSize margin) {
    ScaledPlacement placed;
    if (raster.isEmpty()) return placed;
    const int spareWidth = room.width() - 2 * margin.width();
    const int spareHeight = room.height() - 2 * margin.height();
    const int across = spareWidth / raster.width();
    const int down = spareHeight / raster.height();
    if (spareWidth > 0 && spareHeight > 0 && std::min(across, down) >= 2) {
        placed.scale = std::min(across, down);
        placed.labelled = true;
    }
    const int k = placed.scale;
    placed.origin = QPoint(std::max(0, (room.width() - k * raster.width()) / 2),
                           std::max(0, (room.height() - k * raster.height()) / 2));
    return placed;
}

QPoint RasterPixelAt(QPointF position, const ScaledPlacement& placement) {
    // The pixel a position lies in is the one its floor falls in, as a press at 10.6 is in pixel 10.
    const int x = static_cast<int>(std::floor(position.x())) - placement.origin.x();
    const int y = static_cast<int>(std::floor(position.y())) - placement.origin.y();
    return QPoint(FloorDiv(x, placement.scale), FloorDiv(y, placement.scale));
}

QRect ScaledRect(const QRect& raster, const ScaledPlacement& placement) {
    const int k = placement.scale;
    return QRect(placement.origin + raster.topLeft() * k, raster.size() * k);
}

void ScaleBlocks(const QImage& source, int k, QImage& target) {
    assert(k >= 1 && source.depth() == 32);
    const QSize size = source.size() * k;
    if (target.size() != size || target.format() != source.format()) target = QImage(size, source.format());
    const auto width = static_cast<std::size_t>(source.width());
    const auto kk = static_cast<std::size_t>(k);
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(source.constScanLine(y));
        auto* first = reinterpret_cast<std::uint32_t*>(target.scanLine(y * k));
        for (std::size_t x = 0; x < width; ++x) std::fill_n(first + x * kk, kk, in[x]);
        // The block's other rows copy its first.
        for (int r = 1; r < k; ++r)
            std::memcpy(target.scanLine(y * k + r), first, width * kk * sizeof(std::uint32_t));
    }
}

}  // namespace vistrel
