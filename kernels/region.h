#pragma once
// A rectangle of a picture counted on its own: the (U, V) pairs and level counts of its
// full-size pixels, exactly as a load counts a picture that is only that rectangle.

#include <cstddef>

#include "kernels/korvex.h"
#include "kernels/levels.h"

namespace korvex {

// A rectangle in full-size pixels: left column, top row and its size.
struct PixelRect {
    std::size_t x = 0;
    std::size_t y = 0;
    std::size_t width = 0;
    std::size_t height = 0;

    bool operator==(const PixelRect&) const = default;
    bool empty() const { return width == 0 || height == 0; }
    // Wholly inside a picture of the size given.
    bool inside(std::size_t pictureWidth, std::size_t pictureHeight) const {
        return !empty() && x < pictureWidth && y < pictureHeight && width <= pictureWidth - x &&
               height <= pictureHeight - y;
    }
    bool contains(std::size_t column, std::size_t row) const {
        return column >= x && column - x < width && row >= y && row - y < height;
    }
};

struct RegionCounts {
    UvHistogram histogram;
    LevelCounts levels;
};

// The counts of the rectangle of a picture whose rows are `stride` pixels apart; the
// rectangle must lie inside it. The pixels are only read, and must hold their luma under
// the standard in their fourth byte, as the load's analysis leaves them. The rows are split over
// ThreadCount() threads, with the same counts at any thread count.
RegionCounts CountRegion(const Pixel* picture, std::size_t stride, const PixelRect& rect,
                         LumaStandard standard = LumaStandard::Rec601);

}  // namespace korvex
