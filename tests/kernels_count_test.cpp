#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "kernels/korvex.h"
#include "support.h"

namespace {

using korvex::kUvGridCells;
using korvex::Pixel;
using korvex::UvPair;

constexpr std::int32_t kZoomOne = 65536;  // 1.0 in 16.16 fixed point

using CountGrid = std::array<std::int32_t, kUvGridCells>;

CountGrid Zeros() {
    CountGrid grid;
    grid.fill(0);
    return grid;
}

std::int32_t Count(const std::vector<UvPair>& pairs, CountGrid& grid, std::int32_t zoom) {
    return korvex::CountUvPairs(pairs, std::span<std::int32_t, kUvGridCells>(grid), zoom);
}

// Where a pair should land, worked out in double (exact here: |u * zoom| < 2^53 and the
// division by 65536 is by a power of two); false when it falls outside the grid.
bool ExpectedCell(std::int32_t u, std::int32_t v, std::int32_t zoom, std::size_t& row, std::size_t& column) {
    const double z = zoom / 65536.0;
    const double r = 127 - std::nearbyint(v * z);
    const double c = 128 + std::nearbyint(u * z);
    if (r < 0 || r > 255 || c < 0 || c > 255) return false;
    row = static_cast<std::size_t>(r);
    column = static_cast<std::size_t>(c);
    return true;
}

CountGrid ReferenceCounts(const std::vector<UvPair>& pairs, std::int32_t zoom) {
    CountGrid grid = Zeros();
    for (const UvPair& p : pairs) {
        std::size_t row, column;
        if (ExpectedCell(p.u, p.v, zoom, row, column)) ++grid[row * 256 + column];
    }
    return grid;
}

class ThreadCountGuard {
public:
    explicit ThreadCountGuard(int count) { korvex::SetThreadCount(count); }
    ~ThreadCountGuard() { korvex::SetThreadCount(0); }
};

struct Cell {
    std::size_t row, column;
};

// The only non-zero cell of a grid, asserting there is exactly one.
Cell OnlyCell(const CountGrid& grid) {
    Cell found{999, 999};
    int cells = 0;
    for (std::size_t k = 0; k < kUvGridCells; ++k)
        if (grid[k] != 0) {
            found = {k / 256, k % 256};
            ++cells;
        }
    EXPECT_EQ(cells, 1);
    return found;
}

TEST(KernelsCount, SeventyFivePercentBarsLandInTheirTargetBoxes) {
    struct Bar {
        const char* name;
        bool r, g, b;
        int left, top, right, bottom;  // right and bottom excluded
    };
    const Bar bars[] = {
        {"red", true, false, false, 95, 5, 105, 15},       {"cyan", false, true, true, 151, 241, 161, 251},
        {"green", false, true, false, 67, 222, 77, 232},   {"magenta", true, false, true, 179, 24, 189, 34},
        {"blue", false, false, true, 207, 142, 217, 152},  {"yellow", true, true, false, 39, 104, 49, 114},
    };
    for (const unsigned level : {191u, 192u}) {  // 75 % of 255 is 191.25
        for (const Bar& bar : bars) {
            SCOPED_TRACE(testing::Message() << bar.name << " at level " << level);
            std::vector<Pixel> pixels(10, testing_support::Bgra(bar.b ? level : 0, bar.g ? level : 0, bar.r ? level : 0));
            std::vector<UvPair> chroma(pixels.size());
            korvex::ConvertToYuv(pixels, chroma);
            CountGrid grid = Zeros();
            EXPECT_EQ(Count(chroma, grid, kZoomOne), 10);
            const Cell cell = OnlyCell(grid);
            EXPECT_GE(static_cast<int>(cell.column), bar.left);
            EXPECT_LT(static_cast<int>(cell.column), bar.right);
            EXPECT_GE(static_cast<int>(cell.row), bar.top);
            EXPECT_LT(static_cast<int>(cell.row), bar.bottom);
        }
    }
}

TEST(KernelsCount, GreyLandsAtTheCentreAtEveryZoom) {
    for (const std::int32_t zoom : {kZoomOne / 4, kZoomOne, 4 * kZoomOne, 0, -kZoomOne}) {
        std::vector<Pixel> pixels(3, testing_support::Bgra(77, 77, 77));
        std::vector<UvPair> chroma(3);
        korvex::ConvertToYuv(pixels, chroma);
        CountGrid grid = Zeros();
        EXPECT_EQ(Count(chroma, grid, zoom), 3);
        EXPECT_EQ(grid[127 * 256 + 128], 3) << zoom;
    }
}

TEST(KernelsCount, ZoomScalesAndRoundsHalvesToEven) {
    struct Case {
        std::int16_t u, v;
        std::int32_t zoom;
        std::size_t row, column;
    };
    const Case cases[] = {
        {-28, 117, kZoomOne, 10, 100},
        {-28, 117, kZoomOne / 4, 98, 121},      // -7, 29.25 -> 29
        {10, -6, kZoomOne / 4, 129, 130},       // 2.5 -> 2, -1.5 -> -2
        {14, 10, kZoomOne / 4, 125, 132},       // 3.5 -> 4, 2.5 -> 2
        {-10, -2, kZoomOne / 4, 127, 126},      // -2.5 -> -2, -0.5 -> 0
        {30, -30, 4 * kZoomOne, 247, 248},      // 120, -120
        {31, -32, 4 * kZoomOne, 255, 252},      // -128 is the last row, 124
        {1, 1, kZoomOne / 2, 127, 128},         // 0.5 -> 0 both ways
        {3, 3, kZoomOne / 2, 125, 130},         // 1.5 -> 2
        {-1, -3, kZoomOne + 1, 130, 127},       // just above 1.0
    };
    for (const Case& c : cases) {
        CountGrid grid = Zeros();
        Count({UvPair{c.u, c.v}}, grid, c.zoom);
        const Cell cell = OnlyCell(grid);
        EXPECT_EQ(cell.row, c.row) << c.u << "," << c.v << " zoom " << c.zoom;
        EXPECT_EQ(cell.column, c.column) << c.u << "," << c.v << " zoom " << c.zoom;
    }
}

TEST(KernelsCount, PairsOutsideTheGridAreDropped) {
    const std::vector<UvPair> pairs{
        {128, 0},   {-129, 0},  {0, 128},  {0, -129},            // one past each edge at zoom 1
        {127, 0},   {-128, 0},  {0, 127},  {0, -128},            // exactly on the edges
        {32767, 0}, {-32768, 0}, {0, 32767}, {0, -32768},        // the extremes of the type
    };
    CountGrid grid = Zeros();
    EXPECT_EQ(Count(pairs, grid, kZoomOne), 1);
    EXPECT_EQ(grid[127 * 256 + 255], 1);
    EXPECT_EQ(grid[127 * 256 + 0], 1);
    EXPECT_EQ(grid[0 * 256 + 128], 1);
    EXPECT_EQ(grid[255 * 256 + 128], 1);
    std::int64_t total = 0;
    for (const std::int32_t count : grid) total += count;
    EXPECT_EQ(total, 4);

    // At zoom 4 the grid ends at 31 to the right (124) and -32 to the left (-128).
    CountGrid zoomed = Zeros();
    Count({{32, 0}, {31, 0}, {-32, 0}, {-33, 0}, {0, 32}, {0, -32}}, zoomed, 4 * kZoomOne);
    EXPECT_EQ(zoomed[127 * 256 + 252], 1);
    EXPECT_EQ(zoomed[127 * 256 + 0], 1);
    EXPECT_EQ(zoomed[255 * 256 + 128], 1);
    total = 0;
    for (const std::int32_t count : zoomed) total += count;
    EXPECT_EQ(total, 3);

    // At 0.25, -514 gives -128.5, which goes to the even -128: the last row, kept;
    // -518 gives -129.5 -> -130, dropped.
    CountGrid quarter = Zeros();
    Count({{0, -514}, {0, -518}, {-32768, 0}, {-514, 0}}, quarter, kZoomOne / 4);
    EXPECT_EQ(quarter[255 * 256 + 128], 1);
    EXPECT_EQ(quarter[127 * 256 + 0], 1);
    total = 0;
    for (const std::int32_t count : quarter) total += count;
    EXPECT_EQ(total, 2);
}

TEST(KernelsCount, AddsToTheGridAndReturnsTheLargestCell) {
    CountGrid grid = Zeros();
    grid[5] = 40;  // counts already there stay and take part in the largest
    const std::vector<UvPair> pairs{{0, 0}, {0, 0}, {1, 1}};
    EXPECT_EQ(Count(pairs, grid, kZoomOne), 40);
    EXPECT_EQ(grid[127 * 256 + 128], 2);
    EXPECT_EQ(grid[126 * 256 + 129], 1);
    EXPECT_EQ(Count(std::vector<UvPair>(50, UvPair{0, 0}), grid, kZoomOne), 52);
    EXPECT_EQ(grid[5], 40);

    CountGrid zeros = Zeros();
    EXPECT_EQ(Count({}, zeros, kZoomOne), 0);
    EXPECT_EQ(korvex::CountUvPairs(std::span<const UvPair>{}, std::span<std::int32_t, kUvGridCells>(zeros), kZoomOne), 0);

    CountGrid below = Zeros();
    below.fill(-3);  // a grid of negatives: the largest is still what the grid holds
    EXPECT_EQ(Count({}, below, kZoomOne), -3);
}

TEST(KernelsCount, EveryInt16ComponentAgreesWithTheReference) {
    std::vector<UvPair> pairs;
    pairs.reserve(2 * 65536);
    for (std::int32_t k = -32768; k <= 32767; ++k) {
        pairs.push_back({static_cast<std::int16_t>(k), static_cast<std::int16_t>(-k / 3)});
        pairs.push_back({static_cast<std::int16_t>(k / 5), static_cast<std::int16_t>(k)});
    }
    for (const std::int32_t zoom : {16384, 16385, 32768, 65535, 65536, 98304, 131072, 262144, 1, 0, -65536,
                                    std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min()}) {
        CountGrid grid = Zeros();
        Count(pairs, grid, zoom);
        const CountGrid want = ReferenceCounts(pairs, zoom);
        EXPECT_EQ(grid, want) << "zoom " << zoom;
    }
}

TEST(KernelsCount, SameCountsAtAnyThreadCount) {
    constexpr std::size_t kCount = 3 * 256 * 1024 + 11;
    std::mt19937 random(777);
    std::normal_distribution<double> spread(0.0, 60.0);
    std::vector<UvPair> pairs(kCount);
    for (UvPair& p : pairs)
        p = {static_cast<std::int16_t>(std::lround(spread(random))), static_cast<std::int16_t>(std::lround(spread(random)))};
    pairs[kCount - 1] = {30000, -30000};  // outside the tables and the grid

    CountGrid single = Zeros(), several = Zeros();
    std::int32_t singleLargest, severalLargest;
    {
        ThreadCountGuard guard(1);
        singleLargest = Count(pairs, single, kZoomOne / 2);
    }
    {
        ThreadCountGuard guard(3);
        severalLargest = Count(pairs, several, kZoomOne / 2);
    }
    EXPECT_EQ(single, several);
    EXPECT_EQ(singleLargest, severalLargest);
    EXPECT_EQ(several, ReferenceCounts(pairs, kZoomOne / 2));
}

}  // namespace
