// The area-averaging resampler against a slow reference that weighs every source pixel
// under every destination pixel directly, in two dimensions at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "kernels/area.h"
#include "kernels/korvex.h"
#include "kernels/simd.h"

namespace {

using korvex::Pixel;

// The coverage-weighted mean, worked out per destination pixel from the overlap of
// rectangles in doubles (exact here: every product is a small integer), rounded half to even.
std::vector<Pixel> Reference(const std::vector<Pixel>& source, std::size_t sw, std::size_t sh, std::size_t dw,
                             std::size_t dh) {
    std::vector<Pixel> out(dw * dh);
    for (std::size_t Y = 0; Y < dh; ++Y)
        for (std::size_t X = 0; X < dw; ++X) {
            // The destination pixel as a rectangle in source pixels.
            const double left = double(X) * sw / dw, right = double(X + 1) * sw / dw;
            const double top = double(Y) * sh / dh, bottom = double(Y + 1) * sh / dh;
            // In units of 1 / (dw * dh) of a source pixel's area, so that sums stay integers.
            double sums[3] = {0, 0, 0};
            for (std::size_t y = 0; y < sh; ++y)
                for (std::size_t x = 0; x < sw; ++x) {
                    const double ox = std::max(0.0, std::min<double>(x + 1, right) - std::max<double>(x, left)) * dw;
                    const double oy = std::max(0.0, std::min<double>(y + 1, bottom) - std::max<double>(y, top)) * dh;
                    const double w = std::nearbyint(ox) * std::nearbyint(oy);
                    if (w == 0) continue;
                    for (int c = 0; c < 3; ++c) sums[c] += w * ((source[y * sw + x] >> (8 * c)) & 0xFF);
                }
            Pixel p = 0xFF000000u;
            for (int c = 0; c < 3; ++c) p |= static_cast<Pixel>(std::nearbyint(sums[c] / (double(sw) * double(sh)))) << (8 * c);
            out[Y * dw + X] = p;
        }
    return out;
}

std::vector<Pixel> Random(std::size_t n, std::mt19937& rng) {
    std::vector<Pixel> pixels(n);
    for (Pixel& p : pixels) p = rng();
    return pixels;
}

TEST(KernelsArea, EqualsTheSlowReferenceForReductionAndEnlargementInAnyBands) {
    std::mt19937 rng(7);
    struct Size {
        std::size_t sw, sh, dw, dh;
    };
    // Reductions whose source rows lie wholly inside destination rows (added unweighted),
    // and two with more such rows to a destination row than that sum holds (all weighted).
    std::vector<Size> sizes{{1, 1, 1, 1},  {1, 1, 5, 3},   {7, 5, 3, 2},  {64, 48, 32, 24}, {5, 7, 13, 11},
                            {100, 80, 37, 29}, {30, 3, 7, 41}, {3, 40, 17, 4}, {9, 9, 9, 9},    {2, 2, 9, 7},
                            {67, 300, 5, 9},   {70, 258, 9, 1}, {33, 900, 4, 3}};
    for (int k = 0; k < 20; ++k)
        sizes.push_back({1 + rng() % 40, 1 + rng() % 40, 1 + rng() % 40, 1 + rng() % 40});
    // The plain loops, the AVX2 ones and, where the processor has it, the AVX-512 ones.
    for (const int vectors : {0, 1, 2})
    for (const Size& s : sizes) {
        korvex::detail::AllowWideVectors(vectors > 0);
        korvex::detail::AllowWidestVectors(vectors > 1);
        SCOPED_TRACE(testing::Message() << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh << " vectors " << vectors);
        const std::vector<Pixel> source = Random(s.sw * s.sh, rng);
        const std::vector<Pixel> want = Reference(source, s.sw, s.sh, s.dw, s.dh);
        std::vector<Pixel> whole(s.dw * s.dh, 0);
        korvex::ResampleArea(source.data(), s.sw, s.sh, s.sw, whole.data(), s.dw, s.dh);
        ASSERT_EQ(whole, want);
        // Rows in bands of random heights, from a buffer with padding between rows.
        const std::size_t stride = s.sw + 3;
        std::vector<Pixel> padded(stride * s.sh, 0xDEADBEEF);
        for (std::size_t y = 0; y < s.sh; ++y) std::copy_n(source.data() + y * s.sw, s.sw, padded.data() + y * stride);
        std::vector<Pixel> banded(s.dw * s.dh, 0);
        korvex::AreaResampler resampler(s.sw, s.sh, banded.data(), s.dw, s.dh);
        std::size_t y = 0;
        while (y < s.sh) {
            const std::size_t n = std::min<std::size_t>(s.sh - y, 1 + rng() % 5);
            resampler.AddRows(padded.data() + y * stride, n, stride);
            y += n;
            EXPECT_EQ(resampler.rowsDone(), y);
        }
        ASSERT_EQ(banded, want);
    }
    korvex::detail::AllowWideVectors(true);
    korvex::detail::AllowWidestVectors(true);
}

// Enlarged by whole factors, every picture pixel keeps its colour exactly; by other
// factors only the view pixels across picture pixels' edges take blends.
TEST(KernelsArea, EnlargingKeepsEachPixelsColourAndBlendsOnlyAcrossEdges) {
    std::mt19937 rng(11);
    const std::vector<Pixel> source = Random(4 * 3, rng);
    std::vector<Pixel> big(12 * 12);
    korvex::ResampleArea(source.data(), 4, 3, 4, big.data(), 12, 12);
    for (std::size_t Y = 0; Y < 12; ++Y)
        for (std::size_t X = 0; X < 12; ++X)
            ASSERT_EQ(big[Y * 12 + X], source[(Y / 4) * 4 + X / 3] | 0xFF000000u) << X << "," << Y;

    std::vector<Pixel> odd(10 * 7);
    korvex::ResampleArea(source.data(), 4, 3, 4, odd.data(), 10, 7);
    for (std::size_t Y = 0; Y < 7; ++Y)
        for (std::size_t X = 0; X < 10; ++X) {
            const bool insideX = (X * 4) / 10 == ((X + 1) * 4 - 1) / 10;
            const bool insideY = (Y * 3) / 7 == ((Y + 1) * 3 - 1) / 7;
            if (insideX && insideY) {
                EXPECT_EQ(odd[Y * 10 + X], source[(Y * 3 / 7) * 4 + X * 4 / 10] | 0xFF000000u) << X << "," << Y;
            }
        }
}

TEST(KernelsArea, FlatPicturesStayFlatAndNothingIsDoneWithoutPixels) {
    const std::vector<Pixel> flat(300 * 200, 0x12345678);
    std::vector<Pixel> small(7 * 5, 0);
    korvex::ResampleArea(flat.data(), 300, 200, 300, small.data(), 7, 5);
    for (const Pixel p : small) ASSERT_EQ(p, 0xFF345678u);
    // White rows, as many to a destination row as the unweighted sums hold, and one more.
    for (const std::size_t rows : {257, 258, 514}) {
        const std::vector<Pixel> white(3 * rows, 0xFFFFFFFF);
        std::vector<Pixel> one(2, 0);
        korvex::ResampleArea(white.data(), 3, rows, 3, one.data(), 1, rows / 257);
        ASSERT_EQ(one[0], 0xFFFFFFFFu) << rows;
    }
    std::vector<Pixel> untouched(4, 0xABCDEF01);
    korvex::ResampleArea(nullptr, 0, 0, 0, untouched.data(), 2, 2);
    korvex::ResampleArea(flat.data(), 300, 200, 300, untouched.data(), 0, 2);
    korvex::AreaResampler nothing(300, 200, nullptr, 2, 2);
    nothing.AddRows(flat.data(), 200, 300);
    EXPECT_EQ(untouched, std::vector<Pixel>(4, 0xABCDEF01));
}

}  // namespace
