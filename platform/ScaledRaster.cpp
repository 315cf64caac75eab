#include "platform/ScaledRaster.h"

#include <QPainter>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vistrel {

namespace {

// Floor division, for positions left of or above the origin.
int FloorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// Device pixels are counted from whole logical pixels with this much slack, so that
// 20 x 1.15 is 23 device pixels and not 22.
constexpr double kRatioSlack = 1e-9;

// A margin of device pixels; none for a margin left empty (QSize() is -1 x -1, which would
// let the raster run two pixels past its room).
QSize Edge(QSize margin, qreal ratio);

int FloorScaled(int logical, qreal ratio) { return static_cast<int>(std::floor(logical * ratio + kRatioSlack)); }
int CeilScaled(int logical, qreal ratio) { return static_cast<int>(std::ceil(logical * ratio - kRatioSlack)); }
int CeilLogical(int device, qreal ratio) { return static_cast<int>(std::ceil(device / ratio - kRatioSlack)); }
int FloorLogical(int device, qreal ratio) { return static_cast<int>(std::floor(device / ratio + kRatioSlack)); }
bool Whole(qreal ratio) { return std::abs(ratio - std::nearbyint(ratio)) < kRatioSlack; }

// Labels come from twice the design size up: k = 2 at 1, 3 at 1.25 and 1.5, 4 at 1.75 and 2.
int LabelledFrom(qreal ratio) { return std::max(2, static_cast<int>(std::ceil(2 * ratio - kRatioSlack))); }

// The device pixels a room of whole logical pixels surely holds from its anchor on.
QSize DeviceRoom(QSize room, qreal ratio) {
    const int corner = Whole(ratio) ? 0 : 1;
    return QSize(std::max(0, FloorScaled(room.width(), ratio) - corner),
                 std::max(0, FloorScaled(room.height(), ratio) - corner));
}

QSize Edge(QSize margin, qreal ratio) {
    return QSize(std::max(0, CeilScaled(margin.width(), ratio)), std::max(0, CeilScaled(margin.height(), ratio)));
}

}  // namespace

ScaledPlacement PlaceScaled(QSize raster, QSize room, QSize margin, qreal ratio) {
    ScaledPlacement placed;
    placed.ratio = ratio;
    if (raster.isEmpty()) return placed;
    const QSize device = DeviceRoom(room, ratio);
    const QSize edge = Edge(margin, ratio);
    const int spareWidth = device.width() - 2 * edge.width();
    const int spareHeight = device.height() - 2 * edge.height();
    const int across = spareWidth / raster.width();
    const int down = spareHeight / raster.height();
    const int labelledFrom = LabelledFrom(ratio);
    if (spareWidth > 0 && spareHeight > 0 && std::min(across, down) >= labelledFrom) {
        placed.scale = std::min(across, down);
        placed.labelled = true;
    } else {
        // Below the labels' threshold: as large as fits without them (at 1, the design size).
        const int plain = std::min(device.width() / raster.width(), device.height() / raster.height());
        placed.scale = std::max(1, std::min(plain, labelledFrom - 1));
    }
    const int k = placed.scale;
    placed.origin = QPoint(std::max(0, (device.width() - k * raster.width()) / 2),
                           std::max(0, (device.height() - k * raster.height()) / 2));
    return placed;
}

QSize RoomForScale(QSize raster, QSize margin, qreal ratio, int k) {
    const bool labelled = k >= LabelledFrom(ratio);
    const QSize edge = labelled ? Edge(margin, ratio) : QSize(0, 0);
    const int corner = Whole(ratio) ? 0 : 1;
    const QSize device = raster * k + edge * 2 + QSize(corner, corner);
    return QSize(CeilLogical(device.width(), ratio), CeilLogical(device.height(), ratio)).expandedTo(raster);
}

QRect LogicalCover(const QRect& device, qreal ratio) {
    const int more = Whole(ratio) ? 0 : 1;
    const int left = FloorLogical(device.left(), ratio);
    const int top = FloorLogical(device.top(), ratio);
    const int right = CeilLogical(device.left() + device.width(), ratio) + more;
    const int bottom = CeilLogical(device.top() + device.height(), ratio) + more;
    return QRect(left, top, right - left, bottom - top);
}

QPoint DeviceAnchor(QPointF deviceCorner) {
    return QPoint(static_cast<int>(std::ceil(deviceCorner.x() - kRatioSlack)),
                  static_cast<int>(std::ceil(deviceCorner.y() - kRatioSlack)));
}

QPointF DevicePosition(QPointF position, qreal ratio, QPointF deviceCorner) {
    return position * ratio + deviceCorner - QPointF(DeviceAnchor(deviceCorner));
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

qreal PaintRatio(const QPainter& painter) { return painter.deviceTransform().m11(); }

void DrawOnDevicePixels(QPainter& painter, QPointF roomCorner, QPoint at, const QImage& image) {
    const QTransform device = painter.deviceTransform();
    const qreal ratio = device.m11();
    const QPoint anchor = DeviceAnchor(device.map(roomCorner));
    painter.save();
    // World coordinates made the device's own: the image is blitted, never resampled.
    painter.setWorldTransform(QTransform(1 / ratio, 0, 0, 1 / ratio, -device.dx() / ratio, -device.dy() / ratio));
    painter.drawImage(anchor + at, image);
    painter.restore();
}

void DrawPlaced(QPainter& painter, QPointF room, QPoint at, const QImage& image, const ScaledPlacement& placement,
                QImage& blocks) {
    const QImage* shown = &image;
    if (placement.scale != 1) {
        ScaleBlocks(image, placement.scale, blocks);
        shown = &blocks;
    }
    if (placement.ratio == 1 && PaintRatio(painter) == 1)
        painter.drawImage(room.toPoint() + at, *shown);
    else
        DrawOnDevicePixels(painter, room, at, *shown);
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
