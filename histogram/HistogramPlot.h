#pragma once
// The histogram instrument's picture: how many full-size pixels sit at each level, one
// raster column per level, for one channel or the four stacked (R, G, B, Y). Pure:
// counts and settings in, raster and the texts to print over it out.

#include <QString>

#include <vector>

#include "kernels/korvex.h"
#include "kernels/levels.h"
#include "model/Settings.h"

namespace vistrel::histogram {

using korvex::Pixel;

// The raster: 256 level columns with a 4-pixel black margin each side, and 256 rows of
// channel bands with the same margin above and below.
inline constexpr int kMargin = 4;
inline constexpr int kLevels = 256;
inline constexpr int kBandArea = 256;
inline constexpr int kRasterWidth = kLevels + 2 * kMargin;
inline constexpr int kRasterHeight = kBandArea + 2 * kMargin;
// Rows between two stacked bands, so that their bars never touch.
inline constexpr int kBandGap = 4;
// Rows at the top of each band kept free of bars for its two percentages (an 8-point
// line of text is 11 to 12 pixels high).
inline constexpr int kLabelRows = 12;
// The graticule's levels: quarters of the range, and both ends.
inline constexpr int kGraticuleLevels[] = {0, 64, 128, 192, 255};

struct PlotSettings {
    ScopeChannel channel = ScopeChannel::Parade;
    HistogramScale scale = HistogramScale::Linear;
    korvex::ColorValue scaleColor = 0;  // the lamp colour, red in the low byte
};

// A text to print over the raster: top-left corner at (x, y), or top-right for
// right-aligned text; colour 0x00RRGGBB.
struct PlotLabel {
    int x = 0;
    int y = 0;
    bool alignRight = false;
    QString text;
    Pixel color = 0;
    bool operator==(const PlotLabel&) const = default;
};

struct HistogramPlot {
    std::vector<Pixel> raster;  // kRasterWidth x kRasterHeight, top row first, 0x00RRGGBB
    std::vector<PlotLabel> labels;
};

// A band of the plot: its top row and height, the label strip included.
struct Band {
    int top = 0;
    int height = 0;
};
// The bands of a channel choice, top to bottom (one, or four for the parade).
std::vector<Band> BandsOf(ScopeChannel channel);

// Rows of bar a level's count gets in a band whose bars have `rows` rows: linear to the
// tallest count, or by log(1 + count) against log(1 + tallest); a count above 0 gets at
// least one row, so that no level that occurs is lost.
int BarRows(std::uint64_t count, std::uint64_t tallest, int rows, HistogramScale scale);

// The share of `count` in `total` as the ends print it: "0.00 %", two decimals; a share
// above 0 that would print as 0.00 reads "<0.01 %".
QString ShareText(std::uint64_t count, std::uint64_t total);

// The black field, the lamp-lit graticule at the five levels and the bars of each band in
// its channel's colour over it; the shares of level 0 (left) and 255 (right) at the top of
// each band. Counts of no pixels at all give the field and graticule alone, no labels.
HistogramPlot BuildHistogram(const korvex::LevelCounts& counts, const PlotSettings& settings);

}  // namespace vistrel::histogram
