// An instrument's raster shown larger in a panel: the scale that fits a room, the
// mapping of a pointer back to the raster pixel under it, and the blocks drawn.

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <random>

#include "platform/ScaledRaster.h"

using vistrel::PlaceScaled;
using vistrel::RasterPixelAt;
using vistrel::ScaledPlacement;
using vistrel::ScaledRect;

namespace {

// Whether the raster at scale k with the margins fits the room, counted the slow way.
bool Fits(QSize raster, QSize room, QSize margin, int k) {
    return k * raster.width() + 2 * margin.width() <= room.width() &&
           k * raster.height() + 2 * margin.height() <= room.height();
}

}  // namespace

TEST(ScaledRaster, PlacementIsTheLargestFittingScaleCentredOverManyRooms) {
    // The instruments' own rasters and margins, and odd ones, in rooms of every size around
    // the thresholds and far beyond them.
    const struct {
        QSize raster;
        QSize margin;
    } cases[] = {{{420, 265}, {36, 0}}, {{256, 256}, {20, 20}}, {{264, 264}, {0, 0}}, {{7, 3}, {1, 2}}};
    std::mt19937 random(31);
    for (const auto& [raster, margin] : cases) {
        for (int trial = 0; trial < 4000; ++trial) {
            const QSize room(static_cast<int>(random() % (6 * raster.width() + 4 * margin.width() + 40)),
                             static_cast<int>(random() % (6 * raster.height() + 4 * margin.height() + 40)));
            const ScaledPlacement placed = PlaceScaled(raster, room, margin);
            const int k = placed.scale;
            SCOPED_TRACE(testing::Message() << raster.width() << "x" << raster.height() << " in " << room.width()
                                            << "x" << room.height() << " at x" << k);
            ASSERT_GE(k, 1);
            // From x2 up: it fits with its margins, x(k+1) does not; at x1 no x2 fits.
            if (k >= 2) {
                EXPECT_TRUE(Fits(raster, room, margin, k));
                EXPECT_TRUE(placed.labelled);
            } else {
                EXPECT_FALSE(placed.labelled);
            }
            EXPECT_FALSE(Fits(raster, room, margin, k + 1) && k + 1 >= 2);
            // Centred: the leftovers either side differ by at most the odd pixel, which goes right
            // and down; never off the room's top-left corner.
            const QRect shown = ScaledRect(QRect(QPoint(), raster), placed);
            EXPECT_EQ(shown.size(), raster * k);
            if (shown.width() <= room.width()) {
                const int left = shown.left();
                const int right = room.width() - shown.right() - 1;
                EXPECT_TRUE(right == left || right == left + 1) << left << " " << right;
            } else {
                EXPECT_EQ(shown.left(), 0);
            }
            if (shown.height() <= room.height()) {
                const int top = shown.top();
                const int bottom = room.height() - shown.bottom() - 1;
                EXPECT_TRUE(bottom == top || bottom == top + 1) << top << " " << bottom;
            } else {
                EXPECT_EQ(shown.top(), 0);
            }
            if (placed.labelled) {
                EXPECT_GE(shown.left(), margin.width());
                EXPECT_GE(shown.top(), margin.height());
            }
        }
        // A room of the window's own size is the window: x1 at the corner.
        EXPECT_EQ(PlaceScaled(raster, raster, margin), ScaledPlacement{});
    }
}

TEST(ScaledRaster, AtEveryRatioTheScaleIsWholeDevicePixelsThatFitAndTheRoomForAScaleGivesIt) {
    // Scales in device pixels: labels from twice the design size up, below that the largest
    // that fits; the room asked for a scale gives at least that scale. (Where the blocks land
    // on a fractional ratio's screen: OneWindow.AtFractionalRatios...)
    const QSize raster(420, 265), margin(36, 0);
    std::mt19937 random(53);
    for (const double ratio : {1.25, 1.5, 1.75, 2.0, 3.0}) {
        const int labelledFrom = static_cast<int>(std::ceil(2 * ratio));
        const int corner = ratio == std::floor(ratio) ? 0 : 1;
        const int edge = static_cast<int>(std::ceil(margin.width() * ratio));
        for (int trial = 0; trial < 3000; ++trial) {
            const QSize room(static_cast<int>(random() % 2400), static_cast<int>(random() % 1500));
            const QSize device(static_cast<int>(std::floor(room.width() * ratio)) - corner,
                               static_cast<int>(std::floor(room.height() * ratio)) - corner);
            const auto fits = [&](int k, int spare) {
                return k * raster.width() + 2 * spare <= device.width() && k * raster.height() <= device.height();
            };
            const ScaledPlacement placed = PlaceScaled(raster, room, margin, ratio);
            const int k = placed.scale;
            SCOPED_TRACE(testing::Message() << ratio << ": " << room.width() << "x" << room.height() << " at x" << k);
            EXPECT_EQ(placed.ratio, ratio);
            EXPECT_EQ(placed.labelled, k >= labelledFrom);
            EXPECT_TRUE(placed.labelled ? fits(k, edge) && !fits(k + 1, edge) : !fits(labelledFrom, edge));
            if (!placed.labelled) {
                EXPECT_TRUE((k == 1 || fits(k, 0)) && (k == labelledFrom - 1 || !fits(k + 1, 0)));
            }
        }
        for (int k = 1; k <= 6; ++k)
            EXPECT_GE(PlaceScaled(raster, vistrel::RoomForScale(raster, margin, ratio, k), margin, ratio).scale, k)
                << ratio << " x" << k;
    }
}

TEST(ScaledRaster, EveryPositionInABlockMapsBackToItsPixelAndOutsideStaysOutside) {
    for (const ScaledPlacement placed : {ScaledPlacement{1, {0, 0}, false}, ScaledPlacement{2, {36, 11}, true},
                                         ScaledPlacement{3, {5, 40}, true}, ScaledPlacement{5, {0, 3}, true}}) {
        const int k = placed.scale;
        for (int py = -2; py < 6; ++py)
            for (int px = -2; px < 6; ++px)
                for (int dy = 0; dy < k; ++dy)
                    for (int dx = 0; dx < k; ++dx)
                        for (const double fraction : {0.0, 0.5, 0.99}) {
                            const QPointF at(placed.origin.x() + px * k + dx + fraction,
                                             placed.origin.y() + py * k + dy + fraction);
                            ASSERT_EQ(RasterPixelAt(at, placed), QPoint(px, py))
                                << "x" << k << " at " << at.x() << "," << at.y();
                        }
        // The block a pixel's rectangle covers holds exactly the positions that map back to it.
        EXPECT_EQ(ScaledRect(QRect(3, 4, 1, 1), placed), QRect(placed.origin + QPoint(3, 4) * k, QSize(k, k)));
    }
}

TEST(ScaledRaster, BlocksRepeatEachPixelAndNothingElse) {
    QImage source(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) source.setPixel(x, y, qRgb(40 * x, 80 * y, 7 * x + 11 * y));
    QImage target;
    for (int k = 1; k <= 4; ++k) {
        vistrel::ScaleBlocks(source, k, target);
        ASSERT_EQ(target.size(), source.size() * k);
        ASSERT_EQ(target.format(), source.format());
        for (int y = 0; y < target.height(); ++y)
            for (int x = 0; x < target.width(); ++x)
                ASSERT_EQ(target.pixel(x, y), source.pixel(x / k, y / k)) << "x" << k << " at " << x << "," << y;
    }
}
