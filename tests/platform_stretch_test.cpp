#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Stretch.h"

using namespace vistrel;

namespace {
int Channel(korvex::Pixel p, int shift) { return static_cast<int>((p >> shift) & 0xFF); }
}  // namespace

TEST(HalftoneStretch, ReducingACheckerboardAveragesToMidGrey) {
    Surface board(64, 48, 0);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) board.row(y)[x] = (x + y) % 2 ? 0xFFFFFFFF : 0xFF000000;
    Surface half(32, 24, 0x0000FF);
    HalftoneStretch(board, half);
    ASSERT_EQ(half.width(), 32);
    ASSERT_EQ(half.height(), 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x)
            for (int shift : {0, 8, 16}) {
                const int v = Channel(half.pixel(x, y), shift);
                EXPECT_NEAR(v, 127.5, 1.0) << x << "," << y;
            }
}

TEST(HalftoneStretch, EachAxisScalesOnItsOwn) {
    // Columns alternate black and white; rows are all alike. Halving only the width
    // gives grey; halving only the height keeps the stripes.
    Surface stripes(16, 16, 0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) stripes.row(y)[x] = x % 2 ? 0xFFFFFFFF : 0xFF000000;
    Surface narrow(8, 16, 0);
    HalftoneStretch(stripes, narrow);
    EXPECT_NEAR(Channel(narrow.pixel(3, 7), 8), 127.5, 1.0);
    Surface flat(16, 8, 0);
    HalftoneStretch(stripes, flat);
    EXPECT_EQ(flat.pixel(2, 3), 0u);
    EXPECT_EQ(flat.pixel(3, 3), 0xFFFFFFu);
}

TEST(HalftoneStretch, EnlargingNeverLeavesTheNeighboursRange) {
    Surface source(2, 2, 0);
    source.row(0)[0] = 0xFFC81E0A;  // (200, 30, 10)
    source.row(0)[1] = 0xFF3C6450;  // (60, 100, 80)
    source.row(1)[0] = 0xFF14B4F0;  // (20, 180, 240)
    source.row(1)[1] = 0xFF967832;  // (150, 120, 50)
    Surface big(9, 7, 0);
    HalftoneStretch(source, big);
    for (int shift : {0, 8, 16}) {
        int lo = 255, hi = 0;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) {
                lo = std::min(lo, Channel(source.pixel(x, y), shift));
                hi = std::max(hi, Channel(source.pixel(x, y), shift));
            }
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) {
                const int v = Channel(big.pixel(x, y), shift);
                EXPECT_GE(v, lo);
                EXPECT_LE(v, hi);
            }
    }
    // The corners keep their own colours.
    EXPECT_EQ(big.pixel(0, 0), 0xC81E0Au);
    EXPECT_EQ(big.pixel(8, 6), 0x967832u);
}

TEST(HalftoneStretch, SameSizeCopiesAndEmptySurfacesAreLeftAlone) {
    Surface source(3, 2, 0x123456);
    Surface same(3, 2, 0);
    HalftoneStretch(source, same);
    EXPECT_EQ(same.image(), source.image());
    Surface none;
    HalftoneStretch(none, same);
    EXPECT_EQ(same.image(), source.image());
}
