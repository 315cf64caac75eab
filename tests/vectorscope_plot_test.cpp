// The vectorscope plot builder: thresholds, dot patterns, the outer ring, the
// zoom readout and the colour-bar calibration.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "support.h"
#include "vectorscope/Graticule.h"
#include "model/Trace.h"
#include "vectorscope/Plot.h"

namespace {

using korvex::Pixel;
using korvex::UvPair;
using testing_support::Bgra;
using vistrel::kPlotPixels;
using vistrel::PlotBuffer;

// A zeroed count grid with a few cells set.
struct CountGrid {
    std::vector<std::int32_t> cells = std::vector<std::int32_t>(korvex::kUvGridCells, 0);
    std::int32_t& at(std::size_t row, std::size_t column) { return cells[row * 256 + column]; }
    std::span<const std::int32_t, korvex::kUvGridCells> span() const {
        return std::span<const std::int32_t, korvex::kUvGridCells>(cells.data(), korvex::kUvGridCells);
    }
};

std::unique_ptr<PlotBuffer> Draw(const CountGrid& grid, std::int32_t scaleCount) {
    auto image = std::make_unique<PlotBuffer>();
    image->fill(0);
    vistrel::DrawDensityCells(grid.span(), scaleCount, *image);
    return image;
}

std::unique_ptr<PlotBuffer> Build(const std::vector<UvPair>& pairs, int zoomValue = vistrel::kZoomUnity) {
    auto image = std::make_unique<PlotBuffer>();
    image->fill(0x123456);  // the builder must clear what was there
    vistrel::BuildPlot(pairs, zoomValue, *image);
    return image;
}

Pixel At(const PlotBuffer& image, int x, int y) { return image[static_cast<std::size_t>(y) * 256 + x]; }

// The lit pixels of the 5 x 5 neighbourhood of (x, y), as a map: '.' black, '#' the grey.
std::vector<std::string> Neighbourhood(const PlotBuffer& image, int x, int y, Pixel grey) {
    std::vector<std::string> rows;
    for (int dy = -2; dy <= 2; ++dy) {
        std::string row;
        for (int dx = -2; dx <= 2; ++dx) {
            const Pixel p = At(image, x + dx, y + dy);
            row += p == 0 ? '.' : p == grey ? '#' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

std::size_t LitCount(const PlotBuffer& image) {
    return static_cast<std::size_t>(std::count_if(image.begin(), image.end(), [](Pixel p) { return p != 0; }));
}

const std::vector<std::string> kPlus{".....", "..#..", ".#.#.", "..#..", "....."};
const std::vector<std::string> kCross{".....", ".#.#.", "..#..", ".#.#.", "....."};
const std::vector<std::string> kBlock{".....", ".###.", ".###.", ".###.", "....."};

TEST(VectorscopeThresholds, RoundHalvesToEven) {
    const auto none = vistrel::ComputeThresholds(0);
    EXPECT_EQ(none.t1, 1);
    EXPECT_EQ(none.t2, 2);
    EXPECT_EQ(none.t3, 3);
    EXPECT_EQ(none.t4, 4);
    // 0.001 * 1500 + 1 = 2.5 and 0.02 * 25 + 2 = 2.5: both go down to the even 2.
    EXPECT_EQ(vistrel::ComputeThresholds(1500).t1, 2);
    EXPECT_EQ(vistrel::ComputeThresholds(25).t2, 2);
    // 0.001 * 500 + 1 = 1.5 goes up to the even 2.
    EXPECT_EQ(vistrel::ComputeThresholds(500).t1, 2);
    EXPECT_EQ(vistrel::ComputeThresholds(499).t1, 1);
    EXPECT_EQ(vistrel::ComputeThresholds(5).t4, 5);
    const auto big = vistrel::ComputeThresholds(1 << 30);
    EXPECT_EQ(big.t4, 214748369);
}

TEST(VectorscopePatterns, EachLevelHasItsGreyAndShape) {
    // N = 1000: t1 = 2, t2 = 22, t3 = 73, t4 = 204.
    CountGrid grid;
    grid.at(20, 20) = 2;     // plus
    grid.at(20, 40) = 3;     // low cross
    grid.at(20, 60) = 22;    // low cross, at its upper bound
    grid.at(20, 80) = 23;    // mid cross
    grid.at(20, 100) = 74;   // high block
    grid.at(20, 120) = 205;  // peak block
    grid.at(20, 140) = 1000; // peak block, k = N
    grid.at(20, 160) = 1001; // above N: nothing
    grid.at(20, 180) = -5;   // negative: nothing
    const auto image = Draw(grid, 1000);
    EXPECT_EQ(Neighbourhood(*image, 20, 20, vistrel::kGreyPlus), kPlus);
    EXPECT_EQ(Neighbourhood(*image, 40, 20, vistrel::kGreyLow), kCross);
    EXPECT_EQ(Neighbourhood(*image, 60, 20, vistrel::kGreyLow), kCross);
    EXPECT_EQ(Neighbourhood(*image, 80, 20, vistrel::kGreyMid), kCross);
    EXPECT_EQ(Neighbourhood(*image, 100, 20, vistrel::kGreyHigh), kBlock);
    EXPECT_EQ(Neighbourhood(*image, 120, 20, vistrel::kGreyPeak), kBlock);
    EXPECT_EQ(Neighbourhood(*image, 140, 20, vistrel::kGreyPeak), kBlock);
    EXPECT_EQ(LitCount(*image), 4u + 5u + 5u + 5u + 9u + 9u + 9u);
}

TEST(VectorscopePatterns, NeighboursCombineByOr) {
    // N = 10: t1 = 1, t2 = 2, t3 = 4.
    CountGrid grid;
    grid.at(50, 50) = 1;  // a plus around (50, 50) in 0x505050
    grid.at(51, 52) = 3;  // a cross around (52, 51) in 0xA0A0A0
    const auto image = Draw(grid, 10);
    // (51, 50) is the plus's right arm and the cross's upper-left corner.
    EXPECT_EQ(At(*image, 51, 50), 0xF0F0F0u);
    EXPECT_EQ(At(*image, 50, 51), 0x505050u);
    EXPECT_EQ(At(*image, 52, 51), 0xA0A0A0u);
    EXPECT_EQ(LitCount(*image), 8u);
}

TEST(VectorscopePatterns, OuterRingIsNeverDrawn) {
    CountGrid grid;
    for (std::size_t k = 0; k < 256; ++k) {
        grid.at(0, k) = 7;
        grid.at(255, k) = 7;
        grid.at(k, 0) = 7;
        grid.at(k, 255) = 7;
    }
    EXPECT_EQ(LitCount(*Draw(grid, 7)), 0u);
    // The innermost drawn cells reach the image's edge and stay inside it.
    CountGrid corner;
    corner.at(1, 1) = 7;
    corner.at(254, 254) = 7;
    const auto image = Draw(corner, 7);
    EXPECT_EQ(At(*image, 0, 0), vistrel::kGreyPeak);
    EXPECT_EQ(At(*image, 255, 255), vistrel::kGreyPeak);
    EXPECT_EQ(LitCount(*image), 18u);
}

TEST(VectorscopeBuild, FlatColourIsOneBlock) {
    // Six grey pixels: N = 6 > t4 = 5, a white block around (128, 127).
    auto image = Build(std::vector<UvPair>(6, UvPair{0, 0}));
    EXPECT_EQ(Neighbourhood(*image, 128, 127, vistrel::kGreyPeak), kBlock);
    EXPECT_EQ(LitCount(*image), 9u);
    // Five: N = 5 = t4, the block is one level darker.
    image = Build(std::vector<UvPair>(5, UvPair{0, 0}));
    EXPECT_EQ(Neighbourhood(*image, 128, 127, vistrel::kGreyHigh), kBlock);
    // A coloured flat picture lands off centre: U = 10, V = 20 at (138, 107).
    image = Build(std::vector<UvPair>(40, UvPair{10, 20}));
    EXPECT_EQ(Neighbourhood(*image, 138, 107, vistrel::kGreyPeak), kBlock);
}

TEST(VectorscopeBuild, SinglePixelAmongFewIsADimPlus) {
    std::vector<UvPair> pairs(399, UvPair{0, 0});
    pairs.push_back(UvPair{-30, 40});
    const auto image = Build(pairs);
    EXPECT_EQ(Neighbourhood(*image, 98, 87, vistrel::kGreyPlus), kPlus);
}

TEST(VectorscopeBuild, NothingCountedGivesABlackPlot) {
    EXPECT_EQ(LitCount(*Build({})), 0u);
    // Pairs far outside the grid are not counted either.
    EXPECT_EQ(LitCount(*Build(std::vector<UvPair>(10, UvPair{300, -300}))), 0u);
}

TEST(VectorscopeBuild, ZoomScalesAboutTheCentre) {
    // U = 8, V = -8 at zoom 4 (1024) lands at (160, 159); at 0.25 (64) at (130, 129).
    const std::vector<UvPair> pairs(10, UvPair{8, -8});
    EXPECT_EQ(Neighbourhood(*Build(pairs, 1024), 160, 159, vistrel::kGreyPeak), kBlock);
    EXPECT_EQ(Neighbourhood(*Build(pairs, 64), 130, 129, vistrel::kGreyPeak), kBlock);
}

TEST(VectorscopeBuild, ColourBarsLandInTheirTargets) {
    // 75 % bars: red, cyan, green, magenta, blue, yellow, in the boxes' order.
    const unsigned level = 191;
    const Pixel bars[6] = {Bgra(0, 0, level), Bgra(level, level, 0), Bgra(0, level, 0),
                           Bgra(level, 0, level), Bgra(level, 0, 0), Bgra(0, level, level)};
    for (std::size_t bar = 0; bar < 6; ++bar) {
        auto picture = testing_support::MakeGrid(4, 3, [&](std::size_t, std::size_t) { return bars[bar]; });
        const korvex::ChromaGrid chroma = korvex::ConvertToYuv(picture);
        const auto image = Build(std::vector<UvPair>(chroma.span().begin(), chroma.span().end()));
        ASSERT_EQ(LitCount(*image), 9u) << "bar " << bar;
        const vistrel::TargetBox box = vistrel::kTargetBoxes[bar];
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                if (At(*image, x, y) != 0) {
                    EXPECT_GT(x, box.left) << "bar " << bar;
                    EXPECT_LT(x, box.right - 1) << "bar " << bar;
                    EXPECT_GT(y, box.top) << "bar " << bar;
                    EXPECT_LT(y, box.bottom - 1) << "bar " << bar;
                }
    }
}

TEST(VectorscopeZoom, FactorAndReadout) {
    const QLocale c = QLocale::c();
    EXPECT_FLOAT_EQ(vistrel::ZoomFactorOf(64), 0.25f);
    EXPECT_FLOAT_EQ(vistrel::ZoomFactorOf(1024), 4.0f);
    for (int v : {255, 256, 257}) EXPECT_FALSE(vistrel::ShowsZoomReadout(vistrel::ZoomFactorOf(v))) << v;
    for (int v : {64, 252, 254, 258, 260, 1024})
        EXPECT_TRUE(vistrel::ShowsZoomReadout(vistrel::ZoomFactorOf(v))) << v;
    EXPECT_EQ(vistrel::ZoomReadout(vistrel::ZoomFactorOf(254), c), "0.99");
    EXPECT_EQ(vistrel::ZoomReadout(vistrel::ZoomFactorOf(64), c), "0.25");
    EXPECT_EQ(vistrel::ZoomReadout(vistrel::ZoomFactorOf(1024), c), "4.00");
    EXPECT_EQ(vistrel::ZoomReadout(vistrel::ZoomFactorOf(384), c), "1.50");
    EXPECT_EQ(vistrel::ZoomReadout(vistrel::ZoomFactorOf(384), QLocale(QLocale::German)), "1,50");
}

// The plot drawn from the histogram is the plot drawn from counting every pixel's
// pair, pixel for pixel, at every zoom the bar gives, over a picture with every pair.
TEST(VectorscopePlot, HistogramPlotEqualsCountingEveryPixelAtEveryZoom) {
    const testing_support::EveryPairPicture& picture = testing_support::PictureOfEveryPair();
    std::vector<Pixel> pixels = picture.pixels;
    const korvex::UvHistogram histogram = korvex::AnalysePixels(pixels);
    auto fromHistogram = std::make_unique<PlotBuffer>();
    std::size_t litSomewhere = 0;
    for (int zoom = vistrel::kZoomMin; zoom <= vistrel::kZoomMax; ++zoom) {
        const auto fromPixels = Build(picture.pairs, zoom);
        fromHistogram->fill(0x123456);
        vistrel::BuildPlot(histogram, zoom, *fromHistogram);
        ASSERT_TRUE(*fromPixels == *fromHistogram) << zoom;
        litSomewhere += LitCount(*fromPixels) != 0;
    }
    EXPECT_EQ(litSomewhere, static_cast<std::size_t>(vistrel::kZoomMax - vistrel::kZoomMin + 1));
}

}  // namespace

namespace {

TEST(VectorscopeTrace, DensityLightsEachInnerCellAloneByItsCountAgainstTheMean) {
    CountGrid grid;
    grid.at(100, 100) = 1;
    grid.at(100, 101) = 2;
    grid.at(150, 60) = 6;
    grid.at(0, 40) = 50;     // the outer ring: never drawn, nor counted in the mean
    grid.at(200, 255) = 50;
    const double mean = 9.0 / 3.0;
    for (int trace = 1; trace <= vistrel::kTraceMax; ++trace) {
        auto image = std::make_unique<PlotBuffer>();
        image->fill(0);
        vistrel::DrawTraceDensity(grid.span(), trace, *image);
        const double gain = std::ldexp(1.0, trace - 4);
        const auto grey = [&](int k) { return vistrel::DimColour(0xFFFFFF, 1 - std::exp(-gain * k / mean)); };
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                Pixel want = 0;
                if (y == 100 && x == 100) want = grey(1);
                if (y == 100 && x == 101) want = grey(2);
                if (y == 150 && x == 60) want = grey(6);
                ASSERT_EQ(At(*image, x, y), want) << "brightness " << trace << " at " << x << "," << y;
            }
    }
}

TEST(VectorscopeTrace, AReferenceFillsOnlyWhatThePlotLeavesBlackInItsOwnColour) {
    // The picture: one grey; the reference: that grey and a red, many times each.
    korvex::UvHistogram picture;
    korvex::UvHistogram reference;
    std::vector<Pixel> grey(40, Bgra(128, 128, 128));
    std::vector<Pixel> both(60, Bgra(40, 40, 200));
    std::fill_n(both.begin(), 30, Bgra(128, 128, 128));
    picture.AddPixels(grey);
    reference.AddPixels(both);
    for (const int trace : {vistrel::kTraceFlat, 3}) {
        PlotBuffer alone{};
        PlotBuffer own{};
        PlotBuffer layered{};
        vistrel::BuildPlot(picture, vistrel::kZoomUnity, alone, {trace, nullptr});
        vistrel::BuildPlot(reference, vistrel::kZoomUnity, own, {trace, nullptr});
        vistrel::BuildPlot(picture, vistrel::kZoomUnity, layered, {trace, &reference});
        int filled = 0;
        for (std::size_t k = 0; k < kPlotPixels; ++k) {
            Pixel want = alone[k];
            if (want == 0 && own[k] != 0)
                want = trace == vistrel::kTraceFlat
                           ? vistrel::kReferenceTrace
                           : vistrel::DimColour(vistrel::kReferenceTrace, static_cast<double>(own[k] & 0xFF) / 255.0);
            filled += want != alone[k] ? 1 : 0;
            ASSERT_EQ(layered[k], want) << "brightness " << trace << " at " << k % 256 << "," << k / 256;
        }
        EXPECT_GT(filled, 0);
    }
}

}  // namespace
