#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "kernels/matrix_curves.h"
#include "kernels/simd.h"

namespace {

using korvex::MatrixCurves;

double SrgbLevel(double light) {
    return light <= 0.0031308 ? 12.92 * 255 * light : 255 * (1.055 * std::pow(light, 1 / 2.4) - 0.055);
}
double SrgbLight(int level) {
    const double v = level / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

MatrixCurves::Light Curves(double (*light)(int)) {
    MatrixCurves::Light curves{};
    for (auto& channel : curves)
        for (int v = 0; v < 256; ++v) channel[std::size_t(v)] = light(v);
    return curves;
}
constexpr MatrixCurves::Matrix kIdentity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
constexpr double kBelow = -1.0 / 255, kAbove = 1 + 1.0 / 255;

// Every light from 0 to 1 on a grid of 2^20 steps lands within a hundredth of a level
// of sRGB's curve, before rounding: the conversion's own rounding is all that is left.
TEST(MatrixCurves, EncodingFollowsSrgbsCurveWithinAHundredthOfALevel) {
    const MatrixCurves curves(Curves(SrgbLight), kIdentity, kBelow, kAbove);
    double worst = 0;
    for (std::uint32_t i = 0; i <= (1u << 20); ++i) {
        const float x = float(double(i) / double(1u << 20));
        worst = std::max(worst, std::abs(double(curves.EncodeForTest(x)) - SrgbLevel(x)));
    }
    EXPECT_LT(worst, 0.01);
    EXPECT_EQ(curves.EncodeForTest(-0.5f), 0.0f);
    EXPECT_NEAR(curves.EncodeForTest(3.0f), 255.0f, 0.01);
}

// sRGB's own curves through the identity give back every one of the 2^24 colours, bit
// for bit, the top byte untouched, none clipped.
TEST(MatrixCurves, SrgbThroughTheIdentityKeepsEveryColour) {
    if (!MatrixCurves::Available()) GTEST_SKIP() << "no byte permutes on this processor";
    const MatrixCurves curves(Curves(SrgbLight), kIdentity, kBelow, kAbove);
    std::vector<std::uint32_t> cube(std::size_t{1} << 24);
    for (std::uint32_t i = 0; i < cube.size(); ++i) cube[i] = (i * 37u) << 24 | i;
    std::vector<std::uint32_t> out(cube.size());
    EXPECT_EQ(curves.Convert(cube.data(), out.data(), cube.size()), 0u);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < cube.size(); ++i) wrong += out[i] != cube[i];
    EXPECT_EQ(wrong, 0u);
}

// A wide space (gamma 2.2, a matrix reaching far outside sRGB): each pixel converts
// alike wherever it falls in the vector blocks, at any start and any length, in place or
// not, and the clipped count is the slow count of lights outside the range.
TEST(MatrixCurves, EachPixelConvertsAlikeAtAnyStartAndLength) {
    if (!MatrixCurves::Available()) GTEST_SKIP() << "no byte permutes on this processor";
    const MatrixCurves::Light light = Curves([](int v) { return std::pow(v / 255.0, 2.2); });
    const MatrixCurves::Matrix m{{{1.40, -0.40, 0.0}, {-0.05, 1.20, -0.15}, {0.02, -0.30, 1.28}}};
    const MatrixCurves curves(light, m, kBelow, kAbove);
    std::mt19937 random(7);
    std::vector<std::uint32_t> pixels(1000);
    for (std::uint32_t& p : pixels) p = random();
    std::vector<std::uint32_t> whole(pixels.size());
    const std::uint64_t clipped = curves.Convert(pixels.data(), whole.data(), pixels.size());

    std::uint64_t slow = 0;
    for (const std::uint32_t p : pixels) {
        const int levels[3] = {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
        bool outside = false;
        for (std::size_t i = 0; i < 3; ++i) {
            double sum = 0;
            for (std::size_t j = 0; j < 3; ++j) sum += m[i][j] * std::round(light[j][std::size_t(levels[j])] * 65535) / 65535;
            outside = outside || sum < kBelow || sum > kAbove;
        }
        slow += outside;
    }
    EXPECT_EQ(clipped, slow);
    EXPECT_GT(slow, 100u);
    EXPECT_LT(slow, 900u);

    for (const std::size_t start : {0, 1, 15, 17, 63, 64, 65, 129}) {
        for (const std::size_t length : {1, 2, 16, 31, 63, 64, 65, 127, 200}) {
            std::vector<std::uint32_t> part(pixels.begin() + std::ptrdiff_t(start), pixels.begin() + std::ptrdiff_t(start + length));
            curves.Convert(part.data(), part.data(), part.size());
            for (std::size_t i = 0; i < length; ++i) ASSERT_EQ(part[i], whole[start + i]) << start << "+" << i;
        }
    }
}

// Any float in the tables (every bit pattern, NaNs included) comes back bit for bit, for
// every pixel of a run that ends in a part block, on the byte permutes and without them.
TEST(LevelPlanes, LookUpGivesEachLevelsFloatBitForBit) {
    std::mt19937 random(7);
    korvex::LevelPlanes::Floats tables{};
    for (auto& channel : tables)
        for (float& f : channel) f = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    const korvex::LevelPlanes planes(tables);
    std::vector<std::uint32_t> pixels(64 * 5 + 37);
    for (std::uint32_t& p : pixels) p = static_cast<std::uint32_t>(random());
    for (const bool vectors : {true, false}) {
        korvex::detail::AllowWideVectors(vectors);
        for (const std::size_t n : {pixels.size(), std::size_t{64}, std::size_t{5}, std::size_t{0}}) {
            std::vector<float> r(n + 1, 1.5f), g(n + 1, 1.5f), b(n + 1, 1.5f);
            planes.LookUp(pixels.data(), n, r.data(), g.data(), b.data());
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t p = pixels[i];
                ASSERT_EQ(std::bit_cast<std::uint32_t>(r[i]), std::bit_cast<std::uint32_t>(tables[0][(p >> 16) & 0xFF])) << i;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(g[i]), std::bit_cast<std::uint32_t>(tables[1][(p >> 8) & 0xFF])) << i;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(b[i]), std::bit_cast<std::uint32_t>(tables[2][p & 0xFF])) << i;
            }
            EXPECT_EQ(r[n], 1.5f);  // nothing written past the last pixel
            EXPECT_EQ(b[n], 1.5f);
        }
    }
    korvex::detail::AllowWideVectors(true);
}

}  // namespace
