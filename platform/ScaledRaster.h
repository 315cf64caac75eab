#pragma once
// An instrument raster shown larger in a panel of the one-window workspace: drawn at the
// largest whole scale k that fits, every raster pixel a k x k block of the screen's device
// pixels, centred on black, so that what shows is exactly the raster, only bigger. From
// twice the design size up a margin around it is kept for labels, which never cover the
// raster's own pixels. On a screen of 1.5 device pixels to the logical pixel a design-size
// window shows its raster at k = 1 device pixel, centred, never at 1.5. Pure functions: a
// size in, a placement out; a pointer position mapped back to the raster pixel under it.

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

class QPainter;

namespace vistrel {


struct ScaledPlacement {
    int scale = 1;     // k: raster pixels are k x k blocks of device pixels
    QPoint origin;     // the raster's top-left corner in the room, in device pixels
    bool labelled = false;  // at least twice the design size, and the margin is free for labels
    qreal ratio = 1;   // the device pixels to a logical pixel it was placed for

    bool operator==(const ScaledPlacement&) const = default;
};

// Where a raster of size `raster` goes in `room` (logical pixels) on a screen of `ratio`
// device pixels to the logical pixel: the largest k of at least twice the design size
// (2 x ratio) at which it fits with margin.width() logical pixels to spare left and right and
// margin.height() above and below, for labels; else the largest k below that which fits
// without labels, and at least 1. Centred either way, the odd device pixel of a leftover
// going to the right and bottom; at x1 in a room smaller than the raster, at the room's
// top-left corner. At a fractional ratio the room is taken one device pixel smaller, for the
// whole device pixel its top-left corner is rounded up to (DeviceAnchor).
ScaledPlacement PlaceScaled(QSize raster, QSize room, QSize margin = {}, qreal ratio = 1);

// The smallest room (logical pixels) in which PlaceScaled puts the raster at device scale k;
// at or under the design's own scale, the raster's own size.
QSize RoomForScale(QSize raster, QSize margin, qreal ratio, int k);

// The raster pixel under a position in the room, in device pixels from the room's anchor
// (DevicePosition): the block it falls in, counted from the origin; positions left of or
// above the raster give negative pixels (floor, not truncation).
QPoint RasterPixelAt(QPointF devicePosition, const ScaledPlacement& placement);

// A rectangle of raster pixels as the rectangle of device pixels its blocks cover.
QRect ScaledRect(const QRect& raster, const ScaledPlacement& placement);

// The whole logical pixels that cover a rectangle of device pixels counted from a room's
// anchor, one more right and below at a fractional ratio: the geometry of a child widget
// that shows those device pixels, whatever fraction of a device pixel its room starts at.
QRect LogicalCover(const QRect& device, qreal ratio);

// Where a room's anchor is: a room whose top-left corner falls at `deviceCorner` (device
// pixels of the window, fractional at a fractional ratio) draws its raster from the whole
// device pixel at or after it, so that no raster pixel straddles two screen pixels.
QPoint DeviceAnchor(QPointF deviceCorner);
// A position in a room (logical pixels) as device pixels from its anchor.
QPointF DevicePosition(QPointF position, qreal ratio, QPointF deviceCorner);

// The device pixels to a logical pixel that a painter paints at (1 into a plain image).
qreal PaintRatio(const QPainter& painter);
// Draws an image one image pixel to one device pixel, whatever the painter's device pixel
// ratio: its top-left pixel on the device pixel `at`, counted from the anchor of the room
// whose top-left corner is at `roomCorner` in the painter's coordinates.
void DrawOnDevicePixels(QPainter& painter, QPointF roomCorner, QPoint at, const QImage& image);

// A raster's image (x1) drawn as a placement says, each pixel a block of placement.scale
// device pixels: its top-left pixel at `at` (device pixels from the room's anchor, as
// ScaledRect gives), the room's top-left corner at `room` in the painter's coordinates;
// `blocks` keeps the scaled copy between paints.
void DrawPlaced(QPainter& painter, QPointF room, QPoint at, const QImage& image, const ScaledPlacement& placement,
                QImage& blocks);

// Every pixel of source as a k x k block of target, which takes the size k x source's.
// The format is kept; nothing is blended.
void ScaleBlocks(const QImage& source, int k, QImage& target);

}  // namespace vistrel
