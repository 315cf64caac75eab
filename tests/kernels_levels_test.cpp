// The level counts of red, green, blue and luma against plain counting, over band
// splits, padded rows, thread counts and both luma standards.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels/analysis.h"

namespace {

using korvex::LevelCounts;
using korvex::Pixel;

// Pictures below and above the size from which levels are counted as pairs of levels.
class KernelsLevels : public ::testing::TestWithParam<std::pair<std::size_t, std::size_t>> {};

TEST_P(KernelsLevels, BandsPaddingThreadsAndStandardsCountEveryPixelOnce) {
    std::mt19937 rng(11);
    // Whole-picture bands are split over threads and into the odd pixels' tables; the odd
    // width leaves a last pixel of its own.
    const auto [kWidth, kHeight] = GetParam();
    std::vector<Pixel> source(kWidth * kHeight);
    for (std::size_t k = 0; k < source.size(); ++k) {
        const std::size_t kind = k % 101;  // random colours, runs of one grey, the extremes
        source[k] = kind < 40   ? rng()
                    : kind < 90 ? static_cast<Pixel>(0xAB000000u | 0x010101u * (k / 5000 % 256))
                                : (kind % 2 == 0 ? 0x00FFFFFFu : 0x12000000u);
    }
    for (const korvex::LumaStandard standard : {korvex::LumaStandard::Rec601, korvex::LumaStandard::Rec709}) {
        LevelCounts expected;  // the slow way: one pixel at a time
        for (const Pixel p : source) {
            Pixel withLuma = p;
            korvex::UvPair pair{};
            korvex::ConvertToYuv(std::span(&withLuma, 1), std::span(&pair, 1), standard);
            ++expected.bins[LevelCounts::R][(p >> 16) & 0xFF];
            ++expected.bins[LevelCounts::G][(p >> 8) & 0xFF];
            ++expected.bins[LevelCounts::B][p & 0xFF];
            ++expected.bins[LevelCounts::Y][withLuma >> 24];
        }
        for (const std::size_t stride : {kWidth, kWidth + 3})
            for (const int threads : {1, 3}) {
                SCOPED_TRACE(testing::Message() << "709 " << (standard == korvex::LumaStandard::Rec709) << ", stride "
                                                << stride << ", " << threads << " threads");
                korvex::SetThreadCount(threads);
                std::vector<Pixel> pixels(stride * kHeight, 0x00FFFFFFu);
                for (std::size_t y = 0; y < kHeight; ++y)
                    std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(y * kWidth), kWidth,
                                pixels.begin() + static_cast<std::ptrdiff_t>(y * stride));
                std::vector<Pixel> view(50 * 57);
                korvex::BandAnalysis analysis(pixels.data(), kWidth, kHeight, stride, view.data(), 50, 57, standard);
                for (std::size_t rows = 0; !analysis.finished();) {
                    rows += 1 + rng() % (rows < kHeight / 2 ? 30 : kHeight);
                    analysis.AnalyseTo(rows, rows % 2 == 0);
                }
                EXPECT_EQ(analysis.levels(), expected);

                // The whole-picture entry point adds to the counts it is given.
                LevelCounts twice = expected;
                korvex::AnalysePixels(source, standard, twice);
                for (std::size_t c = 0; c < LevelCounts::kChannels; ++c)
                    for (std::size_t v = 0; v < LevelCounts::kLevels; ++v)
                        ASSERT_EQ(twice.bins[c][v], 2 * expected.bins[c][v]) << c << " " << v;
            }
    }
    korvex::SetThreadCount(0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, KernelsLevels,
                         ::testing::Values(std::pair<std::size_t, std::size_t>{701, 800},
                                           std::pair<std::size_t, std::size_t>{2049, 2050}),
                         [](const auto& info) {
                             return info.param.first * info.param.second >= korvex::BandTally::kPairedLevelsPixels
                                        ? "LevelsAsPairs"
                                        : "LevelsAlone";
                         });

}  // namespace
