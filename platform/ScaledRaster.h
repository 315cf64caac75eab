#pragma once
// An instrument raster shown larger in a panel of the one-window workspace: drawn at the
// largest whole scale k that fits, every raster pixel a k x k block, centred on black, so
// that what shows is exactly the raster, only bigger. From x2 up a margin around it is
// kept for labels, which never cover the raster's own pixels. Pure functions: a size in,
// a placement out; a pointer position mapped back to the raster pixel under it.

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

namespace vistrel {


struct ScaledPlacement {
    int scale = 1;     // k: raster pixels are k x k blocks
    QPoint origin;     // the raster's top-left corner in the room
    bool labelled = false;  // k >= 2 and the margin is free for labels

    bool operator==(const ScaledPlacement&) const = default;
};

// Where a raster of size `raster` goes in `room`: the largest k >= 2 at which it fits with
// margin.width() pixels to spare left and right and margin.height() above and below, for
// labels; else x1 without labels. Centred either way, the odd pixel of a leftover going to
// the right and bottom; at x1 in a room smaller than the raster, at the room's top-left corner.
ScaledPlacement PlaceScaled(QSize raster, QSize room, QSize margin = {});

// The raster pixel under a position in the room: the block it falls in, counted from the
// origin; positions left of or above the raster give negative pixels (floor, not truncation).
QPoint RasterPixelAt(QPointF position, const ScaledPlacement& placement);

// A rectangle of raster pixels as the rectangle of room pixels its blocks cover.
QRect ScaledRect(const QRect& raster, const ScaledPlacement& placement);

// Every pixel of source as a k x k block of target, which takes the size k x source's.
// The format is kept; nothing is blended.
void ScaleBlocks(const QImage& source, int k, QImage& target);

}  // namespace vistrel
