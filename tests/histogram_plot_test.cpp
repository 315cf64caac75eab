// The histogram's raster against pixel maps painted by hand for small pictures, in
// linear and logarithmic heights, one channel, the stacked four and red, green and blue
// overlaid; and what it reads under the pointer at the edges of its columns and bands.

#include <gtest/gtest.h>

#include <QStringList>

#include <optional>
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
// The printed shares' tints of red, green and blue.
constexpr Pixel kRedText = 0xFF6060, kGreenText = 0x30D030, kBlueText = 0x8080FF;
constexpr Pixel kLamp128 = 0x808000;  // the lamp at 128: red and green

TEST(HistogramPlot, OneChannelLinearScalesToTheLevelsBetweenTheEndsAndFlagsAnEndAboveThem) {
    PlotSettings settings{HistogramChannel::Red, HistogramScale::Linear, ScaleColorOf(128)};
    const HistogramPlot plot = BuildHistogram(Counted(), settings);
    // Bars from row 16 (below the label strip) to 259: 244 rows for 2, the tallest count
    // between the ends; level 0's 3 runs off the scale.
    Map map;
    map.graticule(16, 260, kLamp128);
    map.paint(0, 16, 260, kRed);
    for (const int x : {1, 2, 3})
        for (const int y : {16, 17}) map.pixels[static_cast<std::size_t>(y) * kRasterWidth + x] = kRed;
    map.paint(10, 16, 260, kRed);          // 2 of 2
    map.paint(128, 16, 260, kRed);
    map.paint(255, 260 - 122, 260, kRed);  // 1/2 of 244
    EXPECT_EQ(plot.raster, map.pixels);
    const std::vector<PlotLabel> labels = {{4, 4, false, "37.50 %", kRedText}, {260, 4, true, "12.50 %", kRedText}};
    EXPECT_EQ(plot.labels, labels);
}

TEST(HistogramPlot, ParadeLogarithmicMatchesThePixelMapAndAnUnlitLampDrawsNoGraticule) {
    PlotSettings settings{HistogramChannel::Parade, HistogramScale::Log, ScaleColorOf(0)};
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
    EXPECT_EQ(plot.labels[2], (PlotLabel{4, 69, false, "50.00 %", kGreenText}));
    EXPECT_EQ(plot.labels[3], (PlotLabel{260, 69, true, "25.00 %", kGreenText}));
    EXPECT_EQ(plot.labels[7], (PlotLabel{260, 199, true, "0.00 %", kGrey}));
}

TEST(HistogramPlot, NoPixelsGiveTheGraticuleAloneAndTinySharesStayVisible) {
    const HistogramPlot empty = BuildHistogram({}, {HistogramChannel::Luma, HistogramScale::Linear, ScaleColorOf(128)});
    Map map;
    map.graticule(16, 260, kLamp128);
    EXPECT_EQ(empty.raster, map.pixels);
    EXPECT_TRUE(empty.labels.empty());
    // On a nits scale the lines stand at its levels in place of the quarters, each named at
    // the foot in the lamp's colour, every other name a line higher; unlit, neither.
    PlotSettings nits{HistogramChannel::Luma, HistogramScale::Linear, ScaleColorOf(128)};
    nits.nitsLines = {{0.1, 16}, {1, 38}, {203, 148}, {10000, 255}};
    const HistogramPlot scaled = BuildHistogram({}, nits);
    Map lines;
    for (const int level : {16, 38, 148, 255}) lines.paint(level, 16, 260, kLamp128);
    EXPECT_EQ(scaled.raster, lines.pixels);
    EXPECT_EQ(scaled.labels, (std::vector<PlotLabel>{{22, 248, false, "0.1", kLamp128},
                                                     {44, 236, false, "1", kLamp128},
                                                     {154, 248, false, "203", kLamp128},
                                                     {259, 236, true, "10k", kLamp128}}));
    nits.scaleColor = ScaleColorOf(0);
    EXPECT_TRUE(BuildHistogram({}, nits).labels.empty());
    // One pixel in a million keeps a row of bar; 0.005 % rounds to even, to none, 0.015 % up.
    EXPECT_EQ(BarRows(1, 1000000, 244, HistogramScale::Linear), 1);
    EXPECT_EQ(BarRows(1000001, 1000000, 244, HistogramScale::Linear), 244) << "an end above the scale: to the top";
    EXPECT_EQ(QStringList({ShareText(1, 1000000), ShareText(1, 20000), ShareText(3, 20000)}),
              QStringList({"<0.01 %", "<0.01 %", "0.02 %"}));
}

// Pure red, green and blue pixels, then two greys as well: the three channels' bars in
// their colours, added where they overlap (white where all three meet), over 220 rows
// under three lines of shares.
TEST(HistogramPlot, RgbOverlaysTheThreeChannelsAddingTheirColoursWhereTheyMeet) {
    constexpr Pixel kWhite = 0xFFFFFF, kYellow = 0xB0C030, kCyan = 0x60F0FF;  // R+G+B, R+G, G+B held at 255
    const auto counted = [](int greys) {
        korvex::LevelCounts counts;
        const std::pair<int, Pixel> pixels[] = {{3, 0xFF0000}, {2, 0x00FF00}, {1, 0x0000FF}, {greys, 0x808080}};
        for (const auto& [times, p] : pixels)
            for (int k = 0; k < times; ++k) {
                ++counts.bins[korvex::LevelCounts::R][(p >> 16) & 0xFF];
                ++counts.bins[korvex::LevelCounts::G][(p >> 8) & 0xFF];
                ++counts.bins[korvex::LevelCounts::B][p & 0xFF];
            }
        return counts;
    };
    const PlotSettings settings{HistogramChannel::Rgb, HistogramScale::Linear, ScaleColorOf(128)};
    const auto flag = [](Map& map, int firstColumn, Pixel colour) {
        for (int x = firstColumn; x < firstColumn + 3; ++x)
            for (const int y : {40, 41}) map.pixels[static_cast<std::size_t>(y) * kRasterWidth + x] = colour;
    };

    // Only the ends: they set the scale. At 0: red 3, green 4, blue 5 of 5; at 255: 3, 2, 1.
    const HistogramPlot pure = BuildHistogram(counted(0), settings);
    Map map;
    map.graticule(40, 260, kLamp128);
    map.paint(0, 40, 84, kBlue);
    map.paint(0, 84, 128, kCyan);
    map.paint(0, 128, 260, kWhite);
    map.paint(255, 128, 172, kRed);
    map.paint(255, 172, 216, kYellow);
    map.paint(255, 216, 260, kWhite);
    EXPECT_EQ(pure.raster, map.pixels);
    const std::vector<PlotLabel> labels = {
        {4, 4, false, "50.00 %", kRedText},    {260, 4, true, "50.00 %", kRedText},
        {4, 16, false, "66.67 %", kGreenText}, {260, 16, true, "33.33 %", kGreenText},
        {4, 28, false, "83.33 %", kBlueText},  {260, 28, true, "16.67 %", kBlueText}};
    EXPECT_EQ(pure.labels, labels);

    // Two greys at 128 set the scale to 2: every end above it runs to the top, and the flag
    // beside it has the colours of the bars cut (all three at 0, red alone at 255).
    const HistogramPlot withGreys = BuildHistogram(counted(2), settings);
    map = Map();
    map.graticule(40, 260, kLamp128);
    map.paint(0, 40, 260, kWhite);
    flag(map, 1, kWhite);
    map.paint(128, 40, 260, kWhite);
    map.paint(255, 40, 150, kYellow);  // blue's 1 of 2: 110 rows
    map.paint(255, 150, 260, kWhite);
    flag(map, 260, kRed);
    EXPECT_EQ(withGreys.raster, map.pixels);
    EXPECT_EQ(withGreys.labels[5], (PlotLabel{260, 28, true, "12.50 %", kBlueText}));
}

// The reading under the pointer: the column's level from the first level column to the
// last, nothing in the margins beside them or off the raster; in the parade, the band
// under the pointer (a gap's rows go with the band above); the overlay, all three.
TEST(HistogramReading, GivesTheLevelAndTheCountsOfTheBandUnderThePointerAndNothingOffTheColumns) {
    const korvex::LevelCounts counts = Counted();
    using korvex::LevelCounts;
    struct Row {
        HistogramChannel channel;
        int x, y;
        std::optional<int> level;
        std::vector<ScopeChannel> channels;
    };
    const Row rows[] = {
        {HistogramChannel::Red, 3, 100, std::nullopt, {}},
        {HistogramChannel::Red, 4, 100, 0, {ScopeChannel::Red}},
        {HistogramChannel::Red, 259, 0, 255, {ScopeChannel::Red}},
        {HistogramChannel::Red, 260, 0, std::nullopt, {}},
        {HistogramChannel::Red, 100, -1, std::nullopt, {}},
        {HistogramChannel::Red, 100, 264, std::nullopt, {}},
        {HistogramChannel::Luma, 20, 263, 16, {ScopeChannel::Luma}},
        {HistogramChannel::Parade, 14, 0, 10, {ScopeChannel::Red}},
        {HistogramChannel::Parade, 14, 68, 10, {ScopeChannel::Red}},
        {HistogramChannel::Parade, 52, 69, 48, {ScopeChannel::Green}},
        {HistogramChannel::Parade, 6, 198, 2, {ScopeChannel::Blue}},
        {HistogramChannel::Parade, 20, 199, 16, {ScopeChannel::Luma}},
        {HistogramChannel::Rgb, 4, 4, 0, {ScopeChannel::Red, ScopeChannel::Green, ScopeChannel::Blue}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(row.channel) << " at " << row.x << "," << row.y);
        const auto reading = ReadingAt(counts, row.channel, row.x, row.y);
        ASSERT_EQ(reading.has_value(), row.level.has_value());
        if (!reading) continue;
        EXPECT_EQ(reading->level, *row.level);
        ASSERT_EQ(reading->channels.size(), row.channels.size());
        for (std::size_t c = 0; c < row.channels.size(); ++c) {
            const std::size_t counted = row.channels[c] == ScopeChannel::Red     ? LevelCounts::R
                                        : row.channels[c] == ScopeChannel::Green ? LevelCounts::G
                                        : row.channels[c] == ScopeChannel::Blue  ? LevelCounts::B
                                                                                 : LevelCounts::Y;
            EXPECT_EQ(reading->channels[c],
                      (ChannelCount{row.channels[c], counts.bins[counted][static_cast<std::size_t>(*row.level)], 8}));
        }
    }
    // Shown with plain spaces where the text keeps a channel's part together.
    const auto text = [](const HistogramReading& reading) { return ReadingText(reading).replace(QChar(0xA0), u'#'); };
    EXPECT_EQ(text(*ReadingAt(counts, HistogramChannel::Rgb, 4, 4)),
              "Level 0: R#3#(37.50#%), G#4#(50.00#%), B#6#(75.00#%)");
    EXPECT_EQ(text(*ReadingAt(counts, HistogramChannel::Luma, 5, 4)), "Level 1: Y#0#(0.00#%)");
    EXPECT_EQ(text(*ReadingAt({}, HistogramChannel::Green, 5, 4)), "Level 1: G#0");
    EXPECT_EQ(text({200, {{ScopeChannel::Red, 1234567, 2469134}}}), "Level 200: R#1,234,567#(50.00#%)");
    EXPECT_EQ(text({148, {{ScopeChannel::Luma, 2, 8}}, 203.4}), "Level 148 (203 nits): Y#2#(25.00#%)");
}

}  // namespace
