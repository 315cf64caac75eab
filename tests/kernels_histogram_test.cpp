// The (U, V) histogram against ConvertToYuv pixel by pixel, and its re-binning
// against CountUvPairs over every pixel's pair.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/korvex.h"
#include "kernels/region.h"
#include "support.h"

namespace {

using korvex::kUvGridCells;
using korvex::Pixel;
using korvex::UvHistogram;
using korvex::UvPair;

constexpr std::size_t kColours = std::size_t{1} << 24;

class ThreadCountGuard {
public:
    explicit ThreadCountGuard(int count) { korvex::SetThreadCount(count); }
    ~ThreadCountGuard() { korvex::SetThreadCount(0); }
};

// Every colour once, with a fourth byte that the analysis must overwrite.
std::vector<Pixel> EveryColour() {
    std::vector<Pixel> pixels(kColours);
    for (std::size_t k = 0; k < kColours; ++k) pixels[k] = static_cast<Pixel>(k) | 0xA5000000u;
    return pixels;
}

using testing_support::EveryPairPicture;
using testing_support::PictureOfEveryPair;

TEST(KernelsHistogram, CountsEveryColoursPairAndWritesTheSameLumaAtAnyThreadCount) {
    const std::vector<Pixel> colours = EveryColour();
    std::vector<Pixel> expectedPixels = colours;
    std::vector<UvPair> pairs(kColours);
    korvex::ConvertToYuv(expectedPixels, pairs);
    std::vector<std::uint32_t> expected(UvHistogram::kCells, 0);
    std::uint64_t reachable = 0;
    for (const UvPair& p : pairs) {
        ASSERT_TRUE(p.u >= UvHistogram::kMinU && p.u <= UvHistogram::kMaxU);
        ASSERT_TRUE(p.v >= UvHistogram::kMinV && p.v <= UvHistogram::kMaxV);
        std::uint32_t& c = expected[static_cast<std::size_t>(p.v - UvHistogram::kMinV) * UvHistogram::kColumns +
                                    static_cast<std::size_t>(p.u - UvHistogram::kMinU)];
        reachable += c == 0;
        ++c;
    }
    // Every colour lands inside the ranges, and tens of thousands of pairs are reached.
    EXPECT_GT(reachable, 30000u);

    UvHistogram histogram;
    for (const int threads : {1, 2, 3}) {
        const ThreadCountGuard guard(threads);
        std::vector<Pixel> pixels = colours;
        histogram = korvex::AnalysePixels(pixels);
        ASSERT_EQ(0, std::memcmp(pixels.data(), expectedPixels.data(), kColours * sizeof(Pixel))) << threads;
        ASSERT_EQ(histogram.total(), kColours);
        const auto cells = histogram.cells();
        ASSERT_TRUE(std::equal(cells.begin(), cells.end(), expected.begin())) << threads;
    }
    // Pairs just outside the ranges count 0; the corners inside read their own cell.
    for (const std::int32_t v : {UvHistogram::kMinV - 1, 0, UvHistogram::kMaxV + 1})
        for (const std::int32_t u : {UvHistogram::kMinU - 1, 0, UvHistogram::kMaxU + 1}) {
            if (u != 0 || v != 0) {
                EXPECT_EQ(histogram.count(u, v), 0u) << u << "," << v;
            }
        }
    EXPECT_EQ(histogram.count(0, 0), expected[static_cast<std::size_t>(-UvHistogram::kMinV) * UvHistogram::kColumns +
                                              static_cast<std::size_t>(-UvHistogram::kMinU)]);
}

// A rectangle counted in place, rows a stride apart, from pixels that carry their luma,
// equals its crop copied out and analysed as a picture of its own, at any thread count
// and under both standards.
TEST(KernelsHistogram, ARegionCountedInPlaceEqualsItsCropAnalysedAlone) {
    constexpr std::size_t kSide = 4096;  // every colour once, as a square picture
    std::vector<Pixel> picture = EveryColour();
    const korvex::PixelRect regions[] = {{0, 0, kSide, kSide},   {1, 3, 4000, 4093},    {kSide - 1, 0, 1, kSide},
                                         {17, 2049, 2500, 1},    {kSide - 1, kSide - 1, 1, 1}, {600, 700, 513, 700}};
    for (const korvex::LumaStandard standard : {korvex::LumaStandard::Rec601, korvex::LumaStandard::Rec709}) {
        (void)korvex::AnalysePixels(picture, standard);  // luma in the fourth bytes, as a load leaves it
        for (const korvex::PixelRect& r : regions) {
            std::vector<Pixel> crop;
            crop.reserve(r.width * r.height);
            for (std::size_t y = r.y; y < r.y + r.height; ++y)
                crop.insert(crop.end(), picture.begin() + static_cast<std::ptrdiff_t>(y * kSide + r.x),
                            picture.begin() + static_cast<std::ptrdiff_t>(y * kSide + r.x + r.width));
            korvex::LevelCounts levels;
            const UvHistogram expected = korvex::AnalysePixels(crop, standard, levels);
            for (const int threads : {1, 3}) {
                SCOPED_TRACE(testing::Message() << r.x << "," << r.y << "," << r.width << "," << r.height << " threads "
                                                << threads << (standard == korvex::LumaStandard::Rec709 ? " 709" : " 601"));
                const ThreadCountGuard guard(threads);
                const korvex::RegionCounts counts = korvex::CountRegion(picture.data(), kSide, r, standard);
                ASSERT_TRUE(std::ranges::equal(counts.histogram.cells(), expected.cells()));
                ASSERT_EQ(counts.levels, levels);
            }
        }
    }
}

TEST(KernelsHistogram, PairOfIsConvertToYuvsPairAndAddingInPiecesEqualsAddingAtOnce) {
    const EveryPairPicture& picture = PictureOfEveryPair();
    for (std::size_t k = 0; k < picture.pixels.size(); k += 7) {
        const UvPair p = korvex::PairOf(picture.pixels[k]);
        ASSERT_EQ(p.u, picture.pairs[k].u);
        ASSERT_EQ(p.v, picture.pairs[k].v);
    }
    // The unrounded pair rounds, halves to even, to the pair under either standard.
    for (const korvex::LumaStandard standard : {korvex::LumaStandard::Rec601, korvex::LumaStandard::Rec709})
        for (Pixel p = 0; p < 0x1000000u; p += 251) {
            const UvPair rounded = korvex::PairOf(p, standard);
            const korvex::ExactPair exact = korvex::UnroundedPairOf(p, standard);
            ASSERT_EQ(std::nearbyint(exact.u), rounded.u) << std::hex << p;
            ASSERT_EQ(std::nearbyint(exact.v), rounded.v) << std::hex << p;
        }
    std::vector<Pixel> whole = picture.pixels;
    std::vector<Pixel> pieces = picture.pixels;
    UvHistogram once;
    once.AddPixels(whole);
    UvHistogram first, second;
    const std::size_t split = pieces.size() / 3;
    first.AddPixels(std::span<Pixel>(pieces).first(split));
    second.AddPixels(std::span<Pixel>(pieces).subspan(split));
    first.Merge(second);
    EXPECT_TRUE(std::ranges::equal(once.cells(), first.cells()));
    EXPECT_EQ(whole, pieces);
    first.Clear();
    EXPECT_EQ(first.total(), 0u);
}

// The grid from the histogram equals the grid from counting every pixel's pair, cell
// for cell, at every zoom the bar gives and at zooms far outside it; counts add to what
// the grid held, and the returned scale count is the same.
TEST(KernelsHistogram, RebinningEqualsCountingEveryPixelAtAnyZoom) {
    const EveryPairPicture& picture = PictureOfEveryPair();
    std::vector<Pixel> pixels = picture.pixels;
    const UvHistogram histogram = korvex::AnalysePixels(pixels);
    ASSERT_EQ(histogram.total(), picture.pairs.size());

    std::vector<std::int32_t> zooms;
    for (std::int32_t v = 64; v <= 1024; ++v) zooms.push_back(v * 256);
    for (const std::int32_t z : {0, 1, -65536, -3 * 65536 + 77, 32768 + 1, 65535, 16 * 65536, 2147483647})
        zooms.push_back(z);

    std::vector<std::int32_t> fromPixels(kUvGridCells), fromHistogram(kUvGridCells);
    for (const std::int32_t zoom : zooms) {
        // A grid that held counts already, some negative.
        for (std::size_t k = 0; k < kUvGridCells; ++k)
            fromPixels[k] = fromHistogram[k] = static_cast<std::int32_t>(k % 3) - 1;
        const std::int32_t a = korvex::CountUvPairs(picture.pairs, std::span<std::int32_t, kUvGridCells>(fromPixels), zoom);
        const std::int32_t b = korvex::CountUvHistogram(histogram, std::span<std::int32_t, kUvGridCells>(fromHistogram), zoom);
        ASSERT_EQ(a, b) << zoom;
        ASSERT_EQ(fromPixels, fromHistogram) << zoom;
    }
}

TEST(KernelsHistogram, AnEmptyHistogramLeavesTheGridAsItWas) {
    const UvHistogram empty;
    std::vector<std::int32_t> grid(kUvGridCells, 0);
    grid[12345] = 7;
    EXPECT_EQ(korvex::CountUvHistogram(empty, std::span<std::int32_t, kUvGridCells>(grid), 65536), 7);
    EXPECT_EQ(grid[12345], 7);
    std::vector<Pixel> none;
    EXPECT_EQ(korvex::AnalysePixels(none).total(), 0u);
}

}  // namespace
