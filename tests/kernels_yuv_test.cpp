#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "kernels/korvex.h"
#include "kernels/simd.h"
#include "support.h"

namespace {

using korvex::Pixel;
using korvex::UvPair;
using testing_support::Bgra;

// An exact rational number, denominators kept positive; no reduction is needed for the
// sizes below (denominators up to 10^12, numerators below 10^15).
struct Fraction {
    std::int64_t num;
    std::int64_t den;
};

Fraction operator+(Fraction a, Fraction b) { return {a.num * b.den + b.num * a.den, a.den * b.den}; }
Fraction operator-(Fraction a, Fraction b) { return {a.num * b.den - b.num * a.den, a.den * b.den}; }
Fraction operator*(Fraction a, Fraction b) { return {a.num * b.num, a.den * b.den}; }
Fraction Whole(std::int64_t n) { return {n, 1}; }

// The integer nearest to f; of two equally near, the even one.
std::int64_t NearestEven(Fraction f) {
    std::int64_t floor = f.num / f.den;
    if (f.num % f.den != 0 && f.num < 0) --floor;
    const std::int64_t twiceRest = 2 * (f.num - floor * f.den);  // 0 .. 2 den - 2
    if (twiceRest < f.den) return floor;
    if (twiceRest > f.den) return floor + 1;
    return floor % 2 == 0 ? floor : floor + 1;
}

struct Yuv {
    std::int64_t y, u, v;
};

using korvex::LumaStandard;

// The weights of each standard, as written in the standards themselves.
struct Weights {
    Fraction kr, kg, kb, ku, kv;
};

Weights WeightsOf(LumaStandard standard) {
    switch (standard) {
        case LumaStandard::Rec601: return {{299, 1000}, {587, 1000}, {114, 1000}, {492, 1000}, {877, 1000}};
        case LumaStandard::Rec709: return {{2126, 10000}, {7152, 10000}, {722, 10000}, {4698, 10000}, {7808, 10000}};
    }
    return {};
}

Yuv ReferenceYuv(int r, int g, int b, LumaStandard standard = LumaStandard::Rec601) {
    const Weights w = WeightsOf(standard);
    const Fraction luma = w.kr * Whole(r) + w.kg * Whole(g) + w.kb * Whole(b);
    return {NearestEven(luma), NearestEven(w.ku * (Whole(b) - luma)), NearestEven(w.kv * (Whole(r) - luma))};
}

class ThreadCountGuard {
public:
    explicit ThreadCountGuard(int count) { korvex::SetThreadCount(count); }
    ~ThreadCountGuard() { korvex::SetThreadCount(0); }
};

// Checks ConvertToYuv against the reference for all 2^24 colours. Both standards give
// the same ranges of U and V, the ones the vectorscope's grid and circle are drawn for.
void CheckWholeColourCube(LumaStandard standard) {
    constexpr std::size_t kCube = std::size_t{1} << 24;
    std::vector<Pixel> pixels(kCube);
    // Fourth byte set to junk to show that it is overwritten, not mixed in.
    for (std::size_t k = 0; k < kCube; ++k) pixels[k] = static_cast<Pixel>(k) | 0xA5000000u;
    std::vector<UvPair> chroma(kCube, UvPair{-1, -1});
    korvex::ConvertToYuv(pixels, chroma, standard);

    std::size_t mismatches = 0;
    std::int64_t minU = 0, maxU = 0, minV = 0, maxV = 0;
    for (std::size_t k = 0; k < kCube; ++k) {
        const int b = static_cast<int>(k & 0xFF), g = static_cast<int>((k >> 8) & 0xFF),
                  r = static_cast<int>((k >> 16) & 0xFF);
        const Yuv want = ReferenceYuv(r, g, b, standard);
        const Pixel got = pixels[k];
        const bool same = (got & 0x00FFFFFFu) == (k & 0x00FFFFFFu) && static_cast<std::int64_t>(got >> 24) == want.y &&
                          chroma[k].u == want.u && chroma[k].v == want.v;
        if (!same && ++mismatches <= 5)
            ADD_FAILURE() << "R " << r << " G " << g << " B " << b << ": got pixel " << std::hex << got << std::dec
                          << " U " << chroma[k].u << " V " << chroma[k].v << ", want Y " << want.y << " U " << want.u
                          << " V " << want.v;
        minU = std::min(minU, want.u), maxU = std::max(maxU, want.u);
        minV = std::min(minV, want.v), maxV = std::max(maxV, want.v);
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(minU, -111);
    EXPECT_EQ(maxU, 111);
    EXPECT_EQ(minV, -157);
    EXPECT_EQ(maxV, 157);
}

class KernelsYuvCube : public ::testing::TestWithParam<LumaStandard> {};

TEST_P(KernelsYuvCube, MatchesExactArithmeticOverTheWholeColourCube) { CheckWholeColourCube(GetParam()); }

// The narrower builds, each where a wider one is what the cube above went through.
TEST_P(KernelsYuvCube, NarrowerLoopsMatchTooWhereWiderVectorsExist) {
    if (!korvex::detail::UseWideVectors()) GTEST_SKIP() << "only the plain loop exists here; checked above";
    if (korvex::detail::UseWidestVectors()) {
        korvex::detail::AllowWidestVectors(false);
        CheckWholeColourCube(GetParam());
        korvex::detail::AllowWidestVectors(true);
    }
    korvex::detail::AllowWideVectors(false);
    CheckWholeColourCube(GetParam());
    korvex::detail::AllowWideVectors(true);
}

INSTANTIATE_TEST_SUITE_P(BothStandards, KernelsYuvCube, ::testing::Values(LumaStandard::Rec601, LumaStandard::Rec709),
                         [](const auto& info) { return info.param == LumaStandard::Rec601 ? "Rec601" : "Rec709"; });

TEST(KernelsYuv, KnownColoursAndLumaHalvesGoToEven) {
    struct Case {
        unsigned r, g, b;
        unsigned y;
        int u, v;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0, 0},
        {255, 255, 255, 255, 0, 0},       // the weights sum to one exactly
        {128, 128, 128, 128, 0, 0},
        {255, 0, 0, 76, -38, 157},        // Y' 76.245, U -37.51, V 156.77
        {0, 0, 255, 29, 111, -25},        // Y' 29.07, U 111.16, V -25.49
        {0, 255, 0, 150, -74, -131},
        {0, 0, 250, 28, 109, -25},        // Y' 28.5: a half, to the even 28
        {0, 12, 4, 8, -2, -7},            // Y' 7.5: a half, to the even 8
        {0, 8, 86, 14, 35, -13},          // Y' 14.5 -> 14
    };
    for (const Case& c : cases) {
        std::vector<Pixel> pixels{Bgra(c.b, c.g, c.r, 0xFF)};
        std::vector<UvPair> chroma(1);
        korvex::ConvertToYuv(pixels, chroma);
        SCOPED_TRACE(testing::Message() << "R " << c.r << " G " << c.g << " B " << c.b);
        EXPECT_EQ(pixels[0], Bgra(c.b, c.g, c.r, c.y));
        EXPECT_EQ(chroma[0].u, c.u);
        EXPECT_EQ(chroma[0].v, c.v);
    }
}

TEST(KernelsYuv, GridOverloadKeepsBoundsAndPositions) {
    const korvex::PixelGrid original = testing_support::MakeGrid(7, 3, [](std::size_t x, std::size_t y) {
        return Bgra(static_cast<unsigned>(x * 30), static_cast<unsigned>(y * 80), static_cast<unsigned>(200 - x * 20), 9);
    });
    korvex::PixelGrid pixels = testing_support::MakeGrid(7, 3, [&](std::size_t x, std::size_t y) { return original.at(x, y); });
    const korvex::ChromaGrid chroma = korvex::ConvertToYuv(pixels);
    ASSERT_EQ(chroma.width(), 7u);
    ASSERT_EQ(chroma.height(), 3u);
    for (std::size_t y = 0; y < 3; ++y)
        for (std::size_t x = 0; x < 7; ++x) {
            const Pixel p = original.at(x, y);
            const Yuv want = ReferenceYuv((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
            EXPECT_EQ(pixels.at(x, y), (p & 0xFFFFFFu) | (static_cast<Pixel>(want.y) << 24)) << x << "," << y;
            EXPECT_EQ(chroma.at(x, y).u, want.u) << x << "," << y;
            EXPECT_EQ(chroma.at(x, y).v, want.v) << x << "," << y;
        }
}

TEST(KernelsGrid, AnAdoptedBufferLivesAsLongAsTheGridThatHoldsIt) {
    auto owner = std::make_shared<std::vector<Pixel>>(6, Bgra(1, 2, 3));
    const std::weak_ptr<std::vector<Pixel>> watch = owner;
    Pixel* const data = owner->data();
    korvex::PixelGrid grid = korvex::PixelGrid::Adopt(data, 3, 2, std::move(owner));
    ASSERT_EQ(grid.width(), 3u);
    ASSERT_EQ(grid.height(), 2u);
    EXPECT_EQ(grid.data(), data);
    korvex::PixelGrid moved = std::move(grid);
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(moved.at(2, 1), Bgra(1, 2, 3));
    moved = korvex::PixelGrid();
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(korvex::PixelGrid::Adopt(nullptr, 3, 2, nullptr).empty());
}

TEST(KernelsYuv, EmptyInputsAreFine) {
    korvex::ConvertToYuv(std::span<Pixel>{}, std::span<UvPair>{});
    korvex::PixelGrid empty;
    EXPECT_TRUE(korvex::ConvertToYuv(empty).empty());
    korvex::PixelGrid flat(0, 5);
    EXPECT_TRUE(korvex::ConvertToYuv(flat).empty());
}

TEST(KernelsYuv, SameResultAtAnyThreadCount) {
    // Large enough to be split, and an odd length so that the last piece is ragged.
    constexpr std::size_t kCount = 3 * 256 * 1024 + 37;
    std::mt19937 random(12345);
    std::vector<Pixel> source(kCount);
    for (Pixel& p : source) p = random();

    std::vector<Pixel> single = source, several = source;
    std::vector<UvPair> singleUv(kCount), severalUv(kCount);
    {
        ThreadCountGuard guard(1);
        korvex::ConvertToYuv(single, singleUv);
    }
    {
        ThreadCountGuard guard(3);
        korvex::ConvertToYuv(several, severalUv);
    }
    EXPECT_EQ(single, several);
    EXPECT_EQ(0, std::memcmp(singleUv.data(), severalUv.data(), kCount * sizeof(UvPair)));
    // Spot check the far end against the exact reference.
    const Pixel last = source.back();
    const Yuv want = ReferenceYuv((last >> 16) & 0xFF, (last >> 8) & 0xFF, last & 0xFF);
    EXPECT_EQ(several.back() >> 24, static_cast<Pixel>(want.y));
    EXPECT_EQ(severalUv.back().u, want.u);
    EXPECT_EQ(severalUv.back().v, want.v);
}

}  // namespace
