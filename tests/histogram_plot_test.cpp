// The histogram's raster against pixel maps painted by hand for one small picture, in
// linear and logarithmic heights, one channel and the stacked four.

#include <gtest/gtest.h>

#include <QStringList>

#include <vector>

#include "histogram/HistogramPlot.h"

namespace {

using namespace vistrel;
using namespace vistrel::histogram;
using korvex::Pixel;

// Eight pixels, 0xYYRRGGBB: red at 0 three times, 10 twice, 128 twice and 255 once.
const Pixel kPicture[8] = {0x10000000, 0x10003040, 0x20000102, 0x300AFF00,
                           0x400A0000, 0x50800000, 0x6080FF00, 0x70FF0000};

korvex::LevelCounts Counted() {
    korvex::LevelCounts counts;
    for (const Pixel p : kPicture) {
        ++counts.bins[korvex::LevelCounts::R][(p >> 16) & 0xFF];
        ++counts.bins[korvex::LevelCounts::G][(p >> 8) & 0xFF];
        ++counts.bins[korvex::LevelCounts::B][p & 0xFF];
        ++counts.bins[korvex::LevelCounts::Y][p >> 24];
    }
    return counts;
}

struct Map {
    std::vector<Pixel> pixels = std::vector<Pixel>(kRasterWidth * kRasterHeight, 0);
    // Rows [top, bottom) of the column of `level`.
    void paint(int level, int top, int bottom, Pixel colour) {
        for (int y = top; y < bottom; ++y) pixels[static_cast<std::size_t>(y) * kRasterWidth + 4 + level] = colour;
    }
    void graticule(int top, int bottom, Pixel colour) {
        for (const int level : {0, 64, 128, 192, 255}) paint(level, top, bottom, colour);
    }
};

constexpr Pixel kRed = 0xA02020, kGreen = 0x10A010, kBlue = 0x5050F0, kGrey = 0xD0D0D0;
constexpr Pixel kLamp128 = 0x808000;  // the lamp at 128: red and green

TEST(HistogramPlot, OneChannelLinearMatchesThePixelMap) {
    PlotSettings settings{ScopeChannel::Red, HistogramScale::Linear, ScaleColorOf(128)};
    const HistogramPlot plot = BuildHistogram(Counted(), settings);
    // Bars from row 16 (below the label strip) to 259: 244 rows for the tallest count, 3.
    Map map;
    map.graticule(16, 260, kLamp128);
    map.paint(0, 16, 260, kRed);          // 3 of 3
    map.paint(10, 260 - 163, 260, kRed);  // 2/3 of 244 = 162.67
    map.paint(128, 260 - 163, 260, kRed);
    map.paint(255, 260 - 81, 260, kRed);  // 1/3 of 244 = 81.33
    EXPECT_EQ(plot.raster, map.pixels);
    const std::vector<PlotLabel> labels = {{4, 4, false, "37.50 %", kRed}, {260, 4, true, "12.50 %", kRed}};
    EXPECT_EQ(plot.labels, labels);
}

TEST(HistogramPlot, ParadeLogarithmicMatchesThePixelMapAndAnUnlitLampDrawsNoGraticule) {
    PlotSettings settings{ScopeChannel::Parade, HistogramScale::Log, ScaleColorOf(0)};
    const HistogramPlot plot = BuildHistogram(Counted(), settings);
    // Four bands of 61 rows, 4 apart, from row 4; 49 rows of bar under a 12-row strip.
    // log(1 + n) / log(1 + tallest) of 49 rows.
    Map map;
    map.paint(0, 16, 65, kRed);             // red: 3 of 3
    map.paint(10, 65 - 39, 65, kRed);       // 2 of 3: 0.7925 x 49 = 38.8
    map.paint(128, 65 - 39, 65, kRed);
    map.paint(255, 65 - 24, 65, kRed);      // 1 of 3: 0.5 x 49 = 24.5, to even
    map.paint(0, 81, 130, kGreen);          // green: 0 four times
    map.paint(1, 130 - 21, 130, kGreen);    // 1 of 4: 0.4307 x 49 = 21.1
    map.paint(48, 130 - 21, 130, kGreen);
    map.paint(255, 130 - 33, 130, kGreen);  // 2 of 4: 0.6826 x 49 = 33.4
    map.paint(0, 146, 195, kBlue);          // blue: 0 six times
    map.paint(2, 195 - 17, 195, kBlue);     // 1 of 6: 0.3562 x 49 = 17.45
    map.paint(64, 195 - 17, 195, kBlue);
    map.paint(16, 211, 260, kGrey);         // luma: 16 twice, the tallest
    for (const int y : {32, 48, 64, 80, 96, 112})
        map.paint(y, 260 - 31, 260, kGrey);  // 1 of 2: 0.6309 x 49 = 30.9
    EXPECT_EQ(plot.raster, map.pixels);
    ASSERT_EQ(plot.labels.size(), 8u);
    EXPECT_EQ(plot.labels[2], (PlotLabel{4, 69, false, "50.00 %", kGreen}));
    EXPECT_EQ(plot.labels[3], (PlotLabel{260, 69, true, "25.00 %", kGreen}));
    EXPECT_EQ(plot.labels[7], (PlotLabel{260, 199, true, "0.00 %", kGrey}));
}

TEST(HistogramPlot, NoPixelsGiveTheGraticuleAloneAndTinySharesStayVisible) {
    const HistogramPlot empty = BuildHistogram({}, {ScopeChannel::Luma, HistogramScale::Linear, ScaleColorOf(128)});
    Map map;
    map.graticule(16, 260, kLamp128);
    EXPECT_EQ(empty.raster, map.pixels);
    EXPECT_TRUE(empty.labels.empty());
    // One pixel in a million keeps a row of bar; 0.005 % rounds to even, to none, 0.015 % up.
    EXPECT_EQ(BarRows(1, 1000000, 244, HistogramScale::Linear), 1);
    EXPECT_EQ(QStringList({ShareText(1, 1000000), ShareText(1, 20000), ShareText(3, 20000)}),
              QStringList({"<0.01 %", "<0.01 %", "0.02 %"}));
}

}  // namespace
