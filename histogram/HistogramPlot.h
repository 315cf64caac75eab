#pragma once
// The histogram instrument's picture: how many full-size pixels sit at each level, one
// raster column per level, for one channel, the four stacked (R, G, B, Y), or red, green
// and blue overlaid. Pure: counts and settings in, raster and the texts to print over it
// out; and what the plot reads at a position under the pointer.

#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "colour/HdrScale.h"
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
// line of text is 11 to 12 pixels high), one line for each channel the band shows.
inline constexpr int kLabelRows = 12;
// The graticule's levels: quarters of the range, and both ends.
inline constexpr int kGraticuleLevels[] = {0, 64, 128, 192, 255};
// The off-scale flag: an end bar taller than the linear scale runs to the top of its
// band, and these rows at its top reach out this many columns into the margin beside it,
// so that a spike cut by the scale is never read as one that fits it.
inline constexpr int kOffScaleFlagRows = 2;
inline constexpr int kOffScaleFlagColumns = 3;

// Where a held reference's legend line goes: the middle of the first band's label strip,
// between the shares of level 0 and level 255, which no bar reaches.
inline constexpr QRect kLegendArea{kMargin + 52, kMargin, kLevels - 2 * 52, kLabelRows};

struct PlotSettings {
    HistogramChannel channel = HistogramChannel::Rgb;
    HistogramScale scale = HistogramScale::Linear;
    korvex::ColorValue scaleColor = 0;  // the lamp colour, red in the low byte
    // A held reference's counts, drawn under the bars in kReferenceTrace: for each band
    // the tallest of its channels' bars at each level, scaled to its own tallest count as
    // the picture's are to theirs, with its own off-scale flags.
    const korvex::LevelCounts* reference = nullptr;
    // An HDR picture's nits scale: the graticule at these lines' levels in place of the
    // quarters, each named at the foot of the plot, alternately one text line higher so
    // that close names never meet.
    std::vector<hdr::ScaleLine> nitsLines{};
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
std::vector<Band> BandsOf(HistogramChannel channel);
// The single channels band `band` of a choice shows, overlaid: one, or red, green and blue.
std::vector<ScopeChannel> BandChannels(HistogramChannel channel, std::size_t band);

// The count a band's bars are scaled to. Linear: the tallest count of its channels'
// levels 1 to 254, so that clipped ends cannot flatten the rest; only when nothing lies
// between do the ends set it. Log: the tallest count of all.
std::uint64_t ScaleCount(const korvex::LevelCounts& counts, const std::vector<ScopeChannel>& channels,
                         HistogramScale scale);

// Rows of bar a level's count gets in a band whose bars have `rows` rows: linear to the
// tallest count, or by log(1 + count) against log(1 + tallest); a count above 0 gets at
// least one row, so that no level that occurs is lost, and a count above the tallest
// (a linear scale's end bar) gets all of them.
int BarRows(std::uint64_t count, std::uint64_t tallest, int rows, HistogramScale scale);

// Two 0x00RRGGBB colours added, each byte held at 255: overlaid bars add their light.
constexpr Pixel AddColours(Pixel a, Pixel b) {
    Pixel sum = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const Pixel byte = ((a >> shift) & 0xFFu) + ((b >> shift) & 0xFFu);
        sum |= (byte > 0xFFu ? 0xFFu : byte) << shift;
    }
    return sum;
}

// The share of `count` in `total` as the ends print it: "0.00 %", two decimals; a share
// above 0 that would print as 0.00 reads "<0.01 %".
QString ShareText(std::uint64_t count, std::uint64_t total);

// The black field, the lamp-lit graticule at the five levels and the bars of each band in
// its channel's colour over it (overlaid channels adding theirs), an off-scale flag on an
// end bar the linear scale cuts; the shares of level 0 (left) and 255 (right) at the top
// of each band, a line for each channel, in the channel's text colour. Counts of no pixels
// at all give the field and graticule alone, no labels.
HistogramPlot BuildHistogram(const korvex::LevelCounts& counts, const PlotSettings& settings);

// What the plot says at a raster position: the level of its column and, for each channel
// of the band there (the one under the position, or the nearest), how many pixels hold it.
struct ChannelCount {
    ScopeChannel channel = ScopeChannel::Luma;
    std::uint64_t count = 0;
    std::uint64_t total = 0;  // the channel's pixels, all levels
    bool operator==(const ChannelCount&) const = default;
};
struct HistogramReading {
    int level = 0;
    std::vector<ChannelCount> channels;
    std::optional<double> nits{};  // the light the level carries, on an HDR picture's nits scale
    bool operator==(const HistogramReading&) const = default;
};
// Nothing outside the level columns or the raster's rows.
std::optional<HistogramReading> ReadingAt(const korvex::LevelCounts& counts, HistogramChannel channel, int x, int y);
// "Level 200: R 1,234 (0.52 %)" ("Level 200 (1,234 nits): ..." on the nits scale), the
// channels one after another, each channel's part
// held together by no-break spaces.
QString ReadingText(const HistogramReading& reading);

}  // namespace vistrel::histogram
