// The statistics against the slow way (every pixel's level in a sorted list), and the
// level counts a change of luma standard forms again.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "model/LevelStatistics.h"
#include "model/Model.h"

namespace {

using korvex::LevelCounts;

TEST(ModelStatistics, EveryNumberMatchesTheSortedLevels) {
    std::mt19937 rng(5);
    // Pixel counts about the percentiles' boundaries, and levels spread wide or piled on few.
    for (const std::size_t n : {1u, 2u, 99u, 100u, 101u, 199u, 200u, 201u, 4567u})
        for (const unsigned spread : {256u, 3u}) {
            LevelCounts counts;
            std::vector<int> sorted;
            for (std::size_t k = 0; k < n; ++k) {
                const int level = spread == 3 && rng() % 3 == 0 ? 255 : static_cast<int>(rng() % spread);
                sorted.push_back(level);
                ++counts.bins[LevelCounts::G][static_cast<std::size_t>(level)];
            }
            std::sort(sorted.begin(), sorted.end());
            counts.bins[LevelCounts::R] = counts.bins[LevelCounts::Y] = counts.bins[LevelCounts::G];
            const vistrel::LevelStatistics stats = vistrel::StatisticsOf(counts);
            const vistrel::ChannelStatistics& s = stats.channels[LevelCounts::G];
            // The level at the first 1-based position k with k >= q x N, q = percent / 100.
            const auto at = [&](std::size_t percent) {
                std::size_t k = 1;
                while (100 * k < percent * n) ++k;
                return sorted[k - 1];
            };
            SCOPED_TRACE(testing::Message() << n << " pixels over " << spread << " levels");
            EXPECT_EQ(stats.pixels, n);
            EXPECT_EQ(s.min, sorted.front());
            EXPECT_EQ(s.max, sorted.back());
            EXPECT_EQ(s.median, at(50));
            EXPECT_EQ(s.p1, at(1));
            EXPECT_EQ(s.p99, at(99));
            EXPECT_EQ(s.at0, static_cast<std::uint64_t>(std::count(sorted.begin(), sorted.end(), 0)));
            EXPECT_EQ(s.at255, static_cast<std::uint64_t>(std::count(sorted.begin(), sorted.end(), 255)));
            double sum = 0;
            for (const int v : sorted) sum += v;
            EXPECT_EQ(s.meanThousandths,
                      static_cast<std::uint64_t>(std::nearbyint(sum * 1000 / static_cast<double>(n))));
            const auto outside = std::count_if(sorted.begin(), sorted.end(), [](int v) { return v < 16 || v > 235; });
            EXPECT_EQ(stats.outsideVideoRange, static_cast<std::uint64_t>(outside));
        }
    // An exact half of a thousandth goes to the even neighbour: 0.0005 -> 0.000, 0.0015 -> 0.002.
    LevelCounts half;
    half.bins[0] = {1999, 1};
    EXPECT_EQ(vistrel::StatisticsOf(half).channels[0].meanThousandths, 0u);
    half.bins[0] = {1998, 0, 0, 1};
    EXPECT_EQ(vistrel::StatisticsOf(half).channels[0].meanThousandths, 2u);
}

TEST(ModelStatistics, ReanalyseCountsLumaUnderTheNewStandard) {
    vistrel::Model model;
    vistrel::Picture picture;
    picture.pixels = korvex::PixelGrid(7, 5);
    std::mt19937 rng(9);
    for (korvex::Pixel& p : picture.pixels.span()) p = rng() & 0x00FFFFFF;
    const std::vector<korvex::Pixel> copy(picture.pixels.span().begin(), picture.pixels.span().end());
    picture.levels.bins[LevelCounts::Y][7] = 35;  // the counts of another standard, to be replaced
    model.Load(std::move(picture));
    model.Set(&vistrel::Settings::luma, korvex::LumaStandard::Rec709);
    std::vector<korvex::Pixel> analysed = copy;
    LevelCounts expected;
    korvex::AnalysePixels(analysed, korvex::LumaStandard::Rec709, expected);
    EXPECT_EQ(model.picture().levels, expected);
}

}  // namespace
