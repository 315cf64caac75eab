// The level counts of red, green, blue and luma against plain counting, over every
// band split, thread count and luma standard.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels/analysis.h"

namespace {

using korvex::LevelCounts;
using korvex::Pixel;

class ThreadCountGuard {
public:
    explicit ThreadCountGuard(int count) { korvex::SetThreadCount(count); }
    ~ThreadCountGuard() { korvex::SetThreadCount(0); }
};

// The slow way: luma pixel by pixel through the one-pixel conversion, then one count
// per channel.
LevelCounts CountSlowly(const std::vector<Pixel>& source, korvex::LumaStandard standard) {
    LevelCounts counts;
    for (const Pixel p : source) {
        Pixel withLuma = p;
        korvex::UvPair pair{};
        korvex::ConvertToYuv(std::span<Pixel>(&withLuma, 1), std::span<korvex::UvPair>(&pair, 1), standard);
        ++counts.bins[LevelCounts::R][(p >> 16) & 0xFF];
        ++counts.bins[LevelCounts::G][(p >> 8) & 0xFF];
        ++counts.bins[LevelCounts::B][p & 0xFF];
        ++counts.bins[LevelCounts::Y][withLuma >> 24];
    }
    return counts;
}

TEST(KernelsLevels, BandsThreadsAndStandardsCountEveryPixelOnce) {
    std::mt19937 rng(11);
    // Large enough that whole-picture bands are split over threads and into spare tables;
    // the odd width leaves an odd pixel at the end of runs.
    constexpr std::size_t kWidth = 701, kHeight = 800, kViewWidth = 50, kViewHeight = 57;
    std::vector<Pixel> source(kWidth * kHeight);
    for (std::size_t k = 0; k < source.size(); ++k) {
        // Random colours, runs of one grey (equal levels in a row) and the extremes.
        const std::size_t kind = k % 101;
        source[k] = kind < 40   ? rng()
                    : kind < 90 ? static_cast<Pixel>(0xAB000000u | 0x010101u * (k / 5000 % 256))
                                : (kind % 2 == 0 ? 0x00FFFFFFu : 0x12000000u);
    }
    for (const korvex::LumaStandard standard : {korvex::LumaStandard::Rec601, korvex::LumaStandard::Rec709}) {
        const LevelCounts expected = CountSlowly(source, standard);
        for (const int threads : {1, 2, 3})
            for (const bool allThreads : {false, true}) {
                SCOPED_TRACE(testing::Message() << "709 " << (standard == korvex::LumaStandard::Rec709) << ", "
                                                << threads << " threads, all " << allThreads);
                const ThreadCountGuard guard(threads);
                std::vector<Pixel> pixels = source;
                std::vector<Pixel> view(kViewWidth * kViewHeight);
                korvex::BandAnalysis analysis(pixels.data(), kWidth, kHeight, kWidth, view.data(), kViewWidth,
                                              kViewHeight, standard);
                std::size_t rows = 0;
                while (!analysis.finished()) {
                    rows += 1 + rng() % (rows < kHeight / 2 ? 30 : kHeight);
                    analysis.AnalyseTo(rows, allThreads);
                }
                ASSERT_EQ(analysis.levels(), expected);

                // The whole-picture entry point adds to what it is given.
                LevelCounts whole = expected;
                pixels = source;
                korvex::AnalysePixels(pixels, standard, whole);
                for (std::size_t c = 0; c < LevelCounts::kChannels; ++c)
                    for (std::size_t v = 0; v < LevelCounts::kLevels; ++v)
                        ASSERT_EQ(whole.bins[c][v], 2 * expected.bins[c][v]) << c << " " << v;
            }
    }
}

TEST(KernelsLevels, PaddedRowsCountOnlyThePicture) {
    constexpr std::size_t kWidth = 3, kHeight = 2, kStride = 5;
    std::vector<Pixel> padded(kStride * kHeight, 0xFFFFFFFFu);
    for (std::size_t y = 0; y < kHeight; ++y)
        for (std::size_t x = 0; x < kWidth; ++x) padded[y * kStride + x] = 0x00102030u;
    std::vector<Pixel> view(1);
    korvex::BandAnalysis analysis(padded.data(), kWidth, kHeight, kStride, view.data(), 1, 1);
    analysis.AnalyseTo(kHeight, true);
    EXPECT_EQ(analysis.levels(), CountSlowly(std::vector<Pixel>(kWidth * kHeight, 0x00102030u),
                                             korvex::LumaStandard::Rec601));
}

}  // namespace
