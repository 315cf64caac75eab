// The clipping marks against a slow reference that asks, for every view pixel, whether
// any source pixel whose area it overlaps has a channel at 0 or at 255.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels/clipping.h"

namespace {

using korvex::Pixel;

struct Geometry {
    std::size_t sw, sh, vw, vh;
};

std::vector<std::uint8_t> Reference(const std::vector<Pixel>& source, std::size_t stride, const Geometry& g) {
    std::vector<std::uint8_t> marks(g.vw * g.vh, 0);
    for (std::size_t Y = 0; Y < g.vh; ++Y)
        for (std::size_t X = 0; X < g.vw; ++X)
            for (std::size_t y = 0; y < g.sh; ++y)
                for (std::size_t x = 0; x < g.sw; ++x) {
                    // [x, x + 1) meets [X sw / vw, (X + 1) sw / vw), in units of 1 / vw; the same down.
                    if (x * g.vw >= (X + 1) * g.sw || (x + 1) * g.vw <= X * g.sw) continue;
                    if (y * g.vh >= (Y + 1) * g.sh || (y + 1) * g.vh <= Y * g.sh) continue;
                    for (int c = 0; c < 3; ++c) {
                        const unsigned level = (source[y * stride + x] >> (8 * c)) & 0xFF;
                        if (level == 255) marks[Y * g.vw + X] |= korvex::kClipHighlight;
                        if (level == 0) marks[Y * g.vw + X] |= korvex::kClipShadow;
                    }
                }
    return marks;
}

TEST(ClipMarks, MatchTheSlowReferenceOverReducingEnlargingAndMixedGeometries) {
    // The last is large enough to be split over threads.
    const Geometry geometries[] = {{37, 23, 7, 5}, {64, 48, 64, 48}, {5, 4, 13, 11}, {50, 9, 17, 20},
                                   {1, 1, 3, 2},   {29, 31, 28, 30}, {700, 600, 7, 5}};
    std::mt19937 random(1);
    std::uniform_int_distribution<int> level(1, 254), pick(0, 99999), fourth(0, 255);
    for (const Geometry& g : geometries) {
        // Mid-levels with a sprinkling of single channels at 255 or 0 (rarer in the large
        // picture), and a fourth byte (luma) that is often 0 or 255 and must never count.
        // Three padding pixels a row, all clipped, must never count either.
        const std::size_t stride = g.sw + 3;
        const int odds = g.sw * g.sh > 10000 ? 4 : 2000;
        std::vector<Pixel> source(stride * g.sh, 0x00FF00FFu);
        for (std::size_t y = 0; y < g.sh; ++y)
            for (std::size_t x = 0; x < g.sw; ++x) {
                Pixel p = static_cast<Pixel>(level(random) | level(random) << 8 | level(random) << 16 |
                                             (fourth(random) & 0x81) << 24);
                const int k = pick(random);
                if (k < odds) p = k % 2 ? p | 0xFFu << (8 * (k % 3)) : p & ~(0xFFu << (8 * (k % 3)));
                source[y * stride + x] = p;
            }
        EXPECT_EQ(korvex::ClipMarks(source.data(), g.sw, g.sh, stride, g.vw, g.vh), Reference(source, stride, g))
            << g.sw << "x" << g.sh << " -> " << g.vw << "x" << g.vh;
    }
}

TEST(ApplyClipMarks, HighlightWinsOverShadowAndUnmarkedPixelsPassThrough) {
    const Pixel view[4] = {0x112233, 0x445566, 0x778899, 0xAABBCC};
    const std::uint8_t marks[4] = {0, korvex::kClipHighlight, korvex::kClipShadow, 3};
    Pixel out[4] = {};
    korvex::ApplyClipMarks(view, marks, out, 4, 0xFF0000, 0x0000FF);
    EXPECT_EQ(std::vector<Pixel>(out, out + 4), (std::vector<Pixel>{0x112233, 0xFF0000, 0x0000FF, 0xFF0000}));
}

}  // namespace
