// The clipping marks against a slow reference that asks, for every view pixel, whether
// any source pixel whose area it overlaps has a channel at 0 or at 255.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels/clipping.h"

namespace {

using korvex::Pixel;

std::vector<std::uint8_t> Reference(const std::vector<Pixel>& source, std::size_t sw, std::size_t sh,
                                    std::size_t vw, std::size_t vh) {
    std::vector<std::uint8_t> marks(vw * vh, 0);
    for (std::size_t Y = 0; Y < vh; ++Y)
        for (std::size_t X = 0; X < vw; ++X)
            for (std::size_t y = 0; y < sh; ++y)
                for (std::size_t x = 0; x < sw; ++x) {
                    // Overlap of [x, x+1) with [X sw / vw, (X+1) sw / vw), in units of 1 / vw.
                    const bool acrossX = x * vw < (X + 1) * sw && (x + 1) * vw > X * sw;
                    const bool acrossY = y * vh < (Y + 1) * sh && (y + 1) * vh > Y * sh;
                    if (!acrossX || !acrossY) continue;
                    const Pixel p = source[y * sw + x];
                    for (int c = 0; c < 3; ++c) {
                        const unsigned level = (p >> (8 * c)) & 0xFF;
                        if (level == 255) marks[Y * vw + X] |= korvex::kClipHighlight;
                        if (level == 0) marks[Y * vw + X] |= korvex::kClipShadow;
                    }
                }
    return marks;
}

// Mostly mid-levels, with a sprinkling of single clipped channels and a luma byte that
// is often 0 or 255 (it must never count).
std::vector<Pixel> Sprinkled(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> level(1, 254), pick(0, 39), fourth(0, 2);
    std::vector<Pixel> pixels(n);
    for (Pixel& p : pixels) {
        p = static_cast<Pixel>(level(random)) | static_cast<Pixel>(level(random)) << 8 |
            static_cast<Pixel>(level(random)) << 16;
        const int k = pick(random);
        if (k < 3) p = (p & ~(0xFFu << (8 * k))) | (0xFFu << (8 * k));  // one channel at 255
        if (k >= 3 && k < 6) p &= ~(0xFFu << (8 * (k - 3)));              // one channel at 0
        const int f = fourth(random);
        p |= static_cast<Pixel>(f == 0 ? 0x00 : f == 1 ? 0xFF : 0x80) << 24;
    }
    return pixels;
}

TEST(ClipMarks, MatchTheSlowReferenceOverReducingEnlargingAndMixedGeometries) {
    struct Geometry {
        std::size_t sw, sh, vw, vh;
    };
    const Geometry geometries[] = {{37, 23, 7, 5},  {64, 48, 64, 48}, {5, 4, 13, 11},
                                   {50, 9, 17, 20}, {1, 1, 3, 2},     {29, 31, 28, 30}};
    unsigned seed = 1;
    for (const Geometry& g : geometries) {
        const auto source = Sprinkled(g.sw * g.sh, seed++);
        EXPECT_EQ(korvex::ClipMarks(source.data(), g.sw, g.sh, g.sw, g.vw, g.vh),
                  Reference(source, g.sw, g.sh, g.vw, g.vh))
            << g.sw << "x" << g.sh << " -> " << g.vw << "x" << g.vh;
    }
}

TEST(ClipMarks, ReadRowsAtTheirStrideAndFindOneClippedPixelInALargeReduction) {
    // 2000 x 1500 into 7 x 5: one shadow pixel at the last column and row of the padded
    // picture's real area; the padding itself is all highlight and must not count.
    const std::size_t sw = 2000, sh = 1500, stride = 2003;
    std::vector<Pixel> source(stride * sh, 0x00FFFFFFu);
    for (std::size_t y = 0; y < sh; ++y)
        for (std::size_t x = 0; x < sw; ++x) source[y * stride + x] = 0x00808080u;
    source[(sh - 1) * stride + sw - 1] = 0x00800080u;
    const auto marks = korvex::ClipMarks(source.data(), sw, sh, stride, 7, 5);
    std::vector<std::uint8_t> expected(35, 0);
    expected.back() = korvex::kClipShadow;
    EXPECT_EQ(marks, expected);
}

TEST(ApplyClipMarks, HighlightWinsOverShadowAndUnmarkedPixelsPassThrough) {
    const Pixel view[4] = {0x112233, 0x445566, 0x778899, 0xAABBCC};
    const std::uint8_t marks[4] = {0, korvex::kClipHighlight, korvex::kClipShadow,
                                   korvex::kClipHighlight | korvex::kClipShadow};
    Pixel out[4] = {};
    korvex::ApplyClipMarks(view, marks, out, 4, 0xFF0000, 0x0000FF);
    EXPECT_EQ(out[0], 0x112233u);
    EXPECT_EQ(out[1], 0xFF0000u);
    EXPECT_EQ(out[2], 0x0000FFu);
    EXPECT_EQ(out[3], 0xFF0000u);
}

}  // namespace
