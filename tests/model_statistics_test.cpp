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

// The level at 1-based position ceil(q x N) of the sorted list, q = numerator / 100.
int SortedAt(const std::vector<int>& sorted, std::uint64_t numerator) {
    const std::uint64_t n = sorted.size();
    const auto position = static_cast<std::size_t>(std::ceil(static_cast<double>(numerator * n) / 100.0));
    return sorted[position - 1];
}

TEST(ModelStatistics, EveryNumberMatchesTheSortedLevels) {
    std::mt19937 rng(5);
    // Counts around the percentiles' boundaries (1, 99, 100, 101, 199, 200 pixels) and larger.
    for (const std::size_t n : {1u, 2u, 3u, 99u, 100u, 101u, 199u, 200u, 201u, 1000u, 4567u}) {
        for (int spread = 0; spread < 3; ++spread) {
            SCOPED_TRACE(testing::Message() << n << " pixels, spread " << spread);
            LevelCounts counts;
            std::vector<std::vector<int>> levels(LevelCounts::kChannels);
            for (std::size_t c = 0; c < LevelCounts::kChannels; ++c)
                for (std::size_t k = 0; k < n; ++k) {
                    // Narrow spreads pile pixels on few levels, the ends included.
                    const int level = spread == 0 ? static_cast<int>(rng() % 256)
                                      : spread == 1 ? (rng() % 3 == 0 ? 255 : static_cast<int>(rng() % 4))
                                                    : static_cast<int>(10 + rng() % 2);
                    levels[c].push_back(level);
                    ++counts.bins[c][static_cast<std::size_t>(level)];
                }
            const vistrel::LevelStatistics stats = vistrel::StatisticsOf(counts);
            ASSERT_EQ(stats.pixels, n);
            for (std::size_t c = 0; c < LevelCounts::kChannels; ++c) {
                std::vector<int> sorted = levels[c];
                std::sort(sorted.begin(), sorted.end());
                const vistrel::ChannelStatistics& s = stats.channels[c];
                EXPECT_EQ(s.min, sorted.front());
                EXPECT_EQ(s.max, sorted.back());
                EXPECT_EQ(s.median, SortedAt(sorted, 50));
                EXPECT_EQ(s.p1, SortedAt(sorted, 1));
                EXPECT_EQ(s.p99, SortedAt(sorted, 99));
                EXPECT_EQ(s.at0, static_cast<std::uint64_t>(std::count(sorted.begin(), sorted.end(), 0)));
                EXPECT_EQ(s.at255, static_cast<std::uint64_t>(std::count(sorted.begin(), sorted.end(), 255)));
                double sum = 0;
                for (const int v : sorted) sum += v;
                EXPECT_EQ(s.meanThousandths,
                          static_cast<std::uint64_t>(std::nearbyint(sum * 1000.0 / static_cast<double>(n))));
            }
            const std::vector<int>& luma = levels[LevelCounts::Y];
            const auto outside = std::count_if(luma.begin(), luma.end(), [](int v) { return v < 16 || v > 235; });
            EXPECT_EQ(stats.outsideVideoRange, static_cast<std::uint64_t>(outside));
        }
    }
    // An exact half of a thousandth goes to the even neighbour: 0.0005 -> 0.000 and 0.0015 -> 0.002.
    LevelCounts half;
    half.bins[0][1] = 1;
    half.bins[0][0] = 1999;
    EXPECT_EQ(vistrel::StatisticsOf(half).channels[0].meanThousandths, 0u);
    half.bins[0][3] = 1;
    half.bins[0][0] = 1998;
    EXPECT_EQ(vistrel::StatisticsOf(half).channels[0].meanThousandths, 2u);
    EXPECT_EQ(vistrel::StatisticsOf(LevelCounts{}).pixels, 0u);
}

TEST(ModelStatistics, ReanalyseCountsLumaUnderTheNewStandard) {
    vistrel::Model model;
    vistrel::Picture picture;
    picture.pixels = korvex::PixelGrid(7, 5);
    std::mt19937 rng(9);
    for (korvex::Pixel& p : picture.pixels.span()) p = rng() & 0x00FFFFFF;
    std::vector<korvex::Pixel> copy(picture.pixels.span().begin(), picture.pixels.span().end());
    model.Load(std::move(picture));
    for (const korvex::LumaStandard standard : {korvex::LumaStandard::Rec709, korvex::LumaStandard::Rec601}) {
        model.Reanalyse(standard);
        LevelCounts expected;
        for (const korvex::Pixel p : copy) {
            korvex::Pixel withLuma = p;
            korvex::UvPair pair{};
            korvex::ConvertToYuv(std::span(&withLuma, 1), std::span(&pair, 1), standard);
            ++expected.bins[LevelCounts::R][(p >> 16) & 0xFF];
            ++expected.bins[LevelCounts::G][(p >> 8) & 0xFF];
            ++expected.bins[LevelCounts::B][p & 0xFF];
            ++expected.bins[LevelCounts::Y][withLuma >> 24];
        }
        EXPECT_EQ(model.picture().levels, expected);
    }
}

}  // namespace
