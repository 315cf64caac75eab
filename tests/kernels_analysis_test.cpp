// The band analysis against the whole-picture kernels: any split into bands, any
// thread count, the same luma bytes, histogram and view.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels/analysis.h"

namespace {

using korvex::Pixel;

class ThreadCountGuard {
public:
    explicit ThreadCountGuard(int count) { korvex::SetThreadCount(count); }
    ~ThreadCountGuard() { korvex::SetThreadCount(0); }
};

TEST(KernelsAnalysis, AnyBandsAndThreadCountsGiveTheWholePicturesResult) {
    std::mt19937 rng(3);
    // Large enough that the half of its rows left for the last band is split over threads
    // once the decoder is done, and that its levels are counted as pairs.
    constexpr std::size_t kWidth = 3000, kHeight = 3001, kViewWidth = 260, kViewHeight = 334;
    std::vector<Pixel> source(kWidth * kHeight);
    for (std::size_t k = 0; k < source.size(); ++k)
        source[k] = (k % 97 < 50) ? rng() : static_cast<Pixel>(0x00406080 + (k % 5));

    std::vector<Pixel> expectedPixels = source;
    korvex::LevelCounts expectedLevels;
    korvex::UvHistogram expectedHistogram;
    expectedHistogram.AddPixels(expectedPixels, korvex::LumaStandard::Rec601, expectedLevels);
    std::vector<Pixel> expectedView(kViewWidth * kViewHeight);
    korvex::ResampleArea(source.data(), kWidth, kHeight, kWidth, expectedView.data(), kViewWidth, kViewHeight);

    // The counts a load splits the rest of its analysis over: every core the machine has
    // (0), and others a machine might have.
    for (const int threads : {0, 1, 2, 3, 5, 8})
        for (const bool allThreads : {false, true}) {
            SCOPED_TRACE(testing::Message() << threads << " threads, all " << allThreads);
            const ThreadCountGuard guard(threads);
            std::vector<Pixel> pixels = source;
            std::vector<Pixel> view(kViewWidth * kViewHeight, 0);
            korvex::BandAnalysis analysis(pixels.data(), kWidth, kHeight, kWidth, view.data(), kViewWidth, kViewHeight);
            std::size_t rows = 0;
            while (!analysis.finished()) {
                rows += rows < kHeight / 2 ? 1 + rng() % 40 : kHeight;
                analysis.AnalyseTo(rows, allThreads);
                ASSERT_EQ(analysis.rowsDone(), std::min(rows, kHeight));
                analysis.AnalyseTo(rows / 2, allThreads);  // going back does nothing
            }
            ASSERT_EQ(pixels, expectedPixels);
            ASSERT_EQ(view, expectedView);
            ASSERT_TRUE(std::ranges::equal(analysis.histogram().cells(), expectedHistogram.cells()));
            ASSERT_EQ(analysis.levels(), expectedLevels);
        }
}

TEST(KernelsAnalysis, PaddedRowsAndEmptyPicturesAreSafe) {
    constexpr std::size_t kWidth = 5, kHeight = 4, kStride = 8;
    std::vector<Pixel> padded(kStride * kHeight, 0x00FF0000);
    for (std::size_t y = 0; y < kHeight; ++y)
        for (std::size_t x = kWidth; x < kStride; ++x) padded[y * kStride + x] = 0xDEADBEEF;
    std::vector<Pixel> view(4, 0);
    korvex::BandAnalysis analysis(padded.data(), kWidth, kHeight, kStride, view.data(), 2, 2);
    analysis.AnalyseTo(100, true);
    EXPECT_TRUE(analysis.finished());
    EXPECT_EQ(analysis.histogram().total(), kWidth * kHeight);
    for (std::size_t y = 0; y < kHeight; ++y) {
        EXPECT_EQ(padded[y * kStride + kWidth], 0xDEADBEEFu);  // padding untouched
        EXPECT_EQ(padded[y * kStride] & 0xFFFFFF, 0xFF0000u);
    }
    EXPECT_EQ(view, std::vector<Pixel>(4, 0xFFFF0000u));

    korvex::BandAnalysis none(nullptr, 0, 0, 0, nullptr, 0, 0);
    none.AnalyseTo(10, true);
    EXPECT_TRUE(none.finished());
    EXPECT_EQ(none.histogram().total(), 0u);
}

}  // namespace
