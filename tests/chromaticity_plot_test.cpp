// The chromaticity diagram's raster: the picture's density lands on its cells' pixels and
// nowhere else, the triangles' corners and the locus where plain arithmetic puts their
// chromaticities, the locus table against the monochromatic Rec. 2020 primaries; and what
// the plot reads under the pointer.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>

#include "chromaticity/ChromaticityPlot.h"
#include "model/Settings.h"

namespace {

using namespace vistrel;
using namespace vistrel::chromaticity;

constexpr korvex::ColorValue kLamp128 = ScaleColorOf(128);
constexpr Pixel kLampPixel = 0x808000;  // the lamp at 128 as a pixel: red and green

// The raster position of an xy, worked out by hand: 512 cells over 0.9, two to a pixel,
// y up from the plot's bottom row (259), 4 pixels of margin.
std::pair<int, int> ByHand(double x, double y) {
    const int cx = static_cast<int>(x / 0.9 * 512);
    const int cy = static_cast<int>(y / 0.9 * 512);
    return {4 + cx / 2, 259 - cy / 2};
}

Pixel At(const ChromaticityPlot& plot, int x, int y) {
    return plot.raster[static_cast<std::size_t>(y) * kRasterWidth + static_cast<std::size_t>(x)];
}

SignalStats WithCells(const std::map<std::pair<int, int>, std::uint32_t>& cells, std::uint64_t pixels) {
    SignalStats stats;
    stats.pixels = pixels;
    stats.chromaticity.assign(static_cast<std::size_t>(SignalStats::kChromaCells) * SignalStats::kChromaCells, 0);
    for (const auto& [cell, count] : cells)
        stats.chromaticity[static_cast<std::size_t>(cell.second) * SignalStats::kChromaCells +
                           static_cast<std::size_t>(cell.first)] = count;
    return stats;
}

TEST(ChromaticityPlot, DensityLightsExactlyItsCellsPixelsByTheLogOfTheirCounts) {
    // Cells clear of every line: two sharing one pixel (their counts add), a peak, a single
    // pixel and one between, in the triangles, outside them and in a corner of the span.
    const SignalStats stats = WithCells({{{200, 200}, 600},
                                         {{201, 201}, 400},  // the same pixel as (200, 200): 1000 in all
                                         {{120, 300}, 1},
                                         {{260, 150}, 31},
                                         {{40, 40}, 7},
                                         {{511, 511}, 1000}},
                                        5000);
    const ChromaticityPlot bare = BuildChromaticity(nullptr, kLamp128);
    const ChromaticityPlot plotted = BuildChromaticity(&stats, kLamp128);
    ASSERT_EQ(plotted.raster.size(), static_cast<std::size_t>(kRasterWidth) * kRasterHeight);

    // Where each cell's pixel is, and its grey: 64 + 191 x ln(count) / ln(1000).
    std::map<std::pair<int, int>, int> expected;
    const auto grey = [](double count) {
        return count >= 1000 ? 255 : 64 + static_cast<int>(std::nearbyint(191 * std::log(count) / std::log(1000.0)));
    };
    expected[{4 + 100, 259 - 100}] = 255;
    expected[{4 + 60, 259 - 150}] = 64;
    expected[{4 + 130, 259 - 75}] = grey(31);
    expected[{4 + 20, 259 - 20}] = grey(7);
    expected[{4 + 255, 259 - 255}] = 255;
    std::map<std::pair<int, int>, int> found;
    for (int y = 0; y < kRasterHeight; ++y)
        for (int x = 0; x < kRasterWidth; ++x)
            if (At(plotted, x, y) != At(bare, x, y)) {
                const Pixel p = At(plotted, x, y);
                ASSERT_EQ(p, (p & 0xFFu) * 0x010101u) << "not a grey at " << x << "," << y;
                found[{x, y}] = static_cast<int>(p & 0xFFu);
            }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(plotted.labels, bare.labels);

    // Counts with no light (all black) draw the diagram alone.
    const SignalStats black = WithCells({}, 5000);
    EXPECT_EQ(BuildChromaticity(&black, kLamp128).raster, bare.raster);
}

TEST(ChromaticityPlot, TrianglesLocusAndWhiteWhereTheirChromaticitiesAre) {
    // Lamp off: the triangles alone, their corners in their colours (sRGB's and P3's blue
    // is the same point, drawn last by P3); nothing of the locus or D65.
    const ChromaticityPlot dark = BuildChromaticity(nullptr, ScaleColorOf(0));
    const auto [srgbRx, srgbRy] = ByHand(0.64, 0.33);
    const auto [srgbGx, srgbGy] = ByHand(0.30, 0.60);
    const auto [p3Rx, p3Ry] = ByHand(0.68, 0.32);
    const auto [p3Gx, p3Gy] = ByHand(0.265, 0.69);
    const auto [blueX, blueY] = ByHand(0.15, 0.06);
    const auto [bt2020Gx, bt2020Gy] = ByHand(0.17, 0.797);
    const auto [bt2020Bx, bt2020By] = ByHand(0.131, 0.046);
    EXPECT_EQ(At(dark, srgbRx, srgbRy), Gamuts()[0].colour);
    EXPECT_EQ(At(dark, srgbGx, srgbGy), Gamuts()[0].colour);
    EXPECT_EQ(At(dark, p3Rx, p3Ry), Gamuts()[1].colour);
    EXPECT_EQ(At(dark, p3Gx, p3Gy), Gamuts()[1].colour);
    EXPECT_EQ(At(dark, blueX, blueY), Gamuts()[1].colour);
    EXPECT_EQ(At(dark, bt2020Gx, bt2020Gy), Gamuts()[2].colour);
    EXPECT_EQ(At(dark, bt2020Bx, bt2020By), Gamuts()[2].colour);
    // Inside sRGB, away from every edge, stays black; so do the margins.
    const auto [d65x, d65y] = ByHand(0.3127, 0.329);
    EXPECT_EQ(At(dark, d65x, d65y), 0u);
    for (int k = 0; k < kRasterWidth; ++k) {
        EXPECT_EQ(At(dark, k, 0), 0u);
        EXPECT_EQ(At(dark, 0, k), 0u);
    }

    // The lamp adds the locus and the D65 plus, in its colour and nothing else, through
    // every tabulated wavelength.
    const ChromaticityPlot lit = BuildChromaticity(nullptr, kLamp128);
    for (const Chromaticity& c : SpectralLocus()) {
        const auto [x, y] = ByHand(c.x, c.y);
        EXPECT_EQ(At(lit, x, y), kLampPixel) << c.x << "," << c.y;
    }
    for (const auto& [dx, dy] : {std::pair{0, 0}, {-2, 0}, {2, 0}, {0, -2}, {0, 2}})
        EXPECT_EQ(At(lit, d65x + dx, d65y + dy), kLampPixel);
    int added = 0;
    for (int y = 0; y < kRasterHeight; ++y)
        for (int x = 0; x < kRasterWidth; ++x)
            if (At(lit, x, y) != At(dark, x, y)) {
                EXPECT_EQ(At(lit, x, y), kLampPixel);
                ++added;
            }
    // A closed outline round the diagram, some 600 pixels long at this size.
    EXPECT_GT(added, 400);
    EXPECT_LT(added, 1000);
}

TEST(ChromaticityPlot, LocusPassesThroughTheMonochromaticRec2020PrimariesAndHoldsEveryGamut) {
    const std::vector<Chromaticity>& locus = SpectralLocus();
    ASSERT_EQ(locus.size(), static_cast<std::size_t>((700 - 380) / 5 + 1));
    const auto at = [&](double nm) {
        const double index = (nm - kLocusFirstNm) / kLocusStepNm;
        const auto k = static_cast<std::size_t>(index);
        const double t = index - static_cast<double>(k);
        return Chromaticity{locus[k].x + t * (locus[k + 1].x - locus[k].x),
                            locus[k].y + t * (locus[k + 1].y - locus[k].y)};
    };
    // Rec. 2020's primaries are the spectral lights of 630, 532 and 467 nm.
    const std::pair<double, Chromaticity> spectral[] = {{630, {0.708, 0.292}}, {532, {0.170, 0.797}}, {467, {0.131, 0.046}}};
    for (const auto& [nm, primary] : spectral) {
        EXPECT_NEAR(at(nm).x, primary.x, 0.0015) << nm;
        EXPECT_NEAR(at(nm).y, primary.y, 0.0015) << nm;
    }
    // sRGB's corners and D65 lie inside the closed locus (crossings of a ray to the right);
    // P3's red and Rec. 2020's corners lie on it.
    const auto inside = [&](Chromaticity p) {
        bool in = false;
        for (std::size_t k = 0, j = locus.size() - 1; k < locus.size(); j = k++)
            if ((locus[k].y > p.y) != (locus[j].y > p.y) &&
                p.x < (locus[j].x - locus[k].x) * (p.y - locus[k].y) / (locus[j].y - locus[k].y) + locus[k].x)
                in = !in;
        return in;
    };
    EXPECT_TRUE(inside(kD65));
    for (const Chromaticity& corner : Gamuts()[0].primaries) EXPECT_TRUE(inside(corner));
    EXPECT_TRUE(inside(Gamuts()[1].primaries[1]));
}

TEST(ChromaticityPlot, ReadsThePlaceAndTheShareOfThePixelsUnderThePointer) {
    const SignalStats stats = WithCells({{{200, 200}, 600}, {{201, 201}, 400}}, 4000);
    // Pixel (104, 159) covers cells 200..201 both ways: x and y from 0.3516 to 0.3533.
    const auto reading = ReadingAt(&stats, 104, 159);
    ASSERT_TRUE(reading);
    EXPECT_NEAR(reading->at.x, 201 * 0.9 / 512, 1e-12);
    EXPECT_NEAR(reading->at.y, 201 * 0.9 / 512, 1e-12);
    EXPECT_EQ(reading->count, 1000u);
    EXPECT_EQ(reading->total, 4000u);
    EXPECT_EQ(ReadingText(*reading), QStringLiteral("x 0.3533, y 0.3533: 1,000 px (25.00 %)"));
    EXPECT_EQ(ReadingText(*ReadingAt(&stats, 105, 159)), QStringLiteral("x 0.3568, y 0.3533: 0 px (0.00 %)"));
    EXPECT_EQ(ReadingText(*ReadingAt(nullptr, 104, 159)), QStringLiteral("x 0.3533, y 0.3533"));
    // The plot's edges read, the margin does not.
    EXPECT_TRUE(ReadingAt(&stats, 4, 4));
    EXPECT_TRUE(ReadingAt(&stats, 259, 259));
    for (const auto& [x, y] : {std::pair{3, 100}, {260, 100}, {100, 3}, {100, 260}}) EXPECT_FALSE(ReadingAt(&stats, x, y));
}

}  // namespace
