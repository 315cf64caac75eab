#pragma once
// The raw histogram's picture: how many of a camera raw's photosites sit at each raw
// value, before demosaicing, one band a class of the colour filter array's places (R,
// G1, G2 and B in the array's order; X-Trans' R, G and B), on a linear axis of raw values
// or an axis of stops below the white level, with marks at the black and white levels.
// Pure: counts and settings in, raster and the texts to print over it out; and what the
// plot reads under the pointer.

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "kernels/korvex.h"
#include "model/RawCounts.h"
#include "model/Settings.h"

namespace vistrel::rawhistogram {

using korvex::Pixel;

// The raster: kColumns columns with a 4-pixel black margin each side, and the bands in
// kBandArea rows with the same margin above and below, as the histogram has.
inline constexpr int kMargin = 4;
inline constexpr int kColumns = 256;
inline constexpr int kBandArea = 256;
inline constexpr int kRasterWidth = kColumns + 2 * kMargin;
inline constexpr int kRasterHeight = kBandArea + 2 * kMargin;
inline constexpr int kBandGap = 4;
// Rows at the top of each band for its name (an 8-point line of text is 11 to 12 high).
inline constexpr int kLabelRows = 12;
// The black level's mark is dotted: lit every kBlackDots rows.
inline constexpr int kBlackDots = 2;

struct PlotSettings {
    RawHistogramAxis axis = RawHistogramAxis::Linear;
    HistogramScale scale = HistogramScale::Linear;
    korvex::ColorValue scaleColor = 0;  // the lamp colour, red in the low byte
};

// How raw values fall into columns. Linear: column c holds the values [c x top / 256,
// (c + 1) x top / 256), top the smallest power of two above the sensor's depth and its
// highest photosite. Stops: a value's stops below white, log2((v - black) / (white -
// black)), from -kRawEvSpan at the left edge to 0 at the right; values at or above white
// in the last column, values kRawEvSpan stops down or less (black among them) in the
// first. Without a white level, stops below the top value.
struct Axis {
    RawHistogramAxis kind = RawHistogramAxis::Linear;
    std::uint32_t top = 1;  // values on a linear axis: 0 .. top - 1
    double black = 0;       // the classes' mean
    std::uint32_t white = 0;  // 0: none
    // The level the stops count down from: white, or the top value without one.
    double Reference() const { return white != 0 ? white : top - 1.0; }
    int ColumnOf(std::uint32_t value) const;
    // The stops below the reference of a value; nothing at or below black.
    std::optional<double> StopsOf(double value) const;
};
Axis AxisOf(const RawCounts& counts, RawHistogramAxis kind);

// The classes shown, top band first: their RawSite, name and bar colour.
struct Shown {
    RawSite site = RawSite::R;
    const char* name = "R";
    Pixel colour = 0;
};
std::vector<Shown> ShownOf(const RawSensor& sensor);

// A text to print over the raster, top-left corner at (x, y); colour 0x00RRGGBB.
struct PlotLabel {
    int x = 0;
    int y = 0;
    QString text;
    Pixel color = 0;
    bool operator==(const PlotLabel&) const = default;
};

struct RawHistogramPlot {
    std::vector<Pixel> raster;  // kRasterWidth x kRasterHeight, top row first, 0x00RRGGBB
    std::vector<PlotLabel> labels;
};

// What the instrument has to show when it has no photosites: none for a picture that is
// not a camera raw's, or a raw whose sensor the histogram does not apply to.
enum class Absence { NotRaw, DoesNotApply };

// With counts: the black field; each band's bars in its class's colour, each column the
// photosites of the values it holds, linear to the tallest column (the first and last left
// out, so that clipped ends cannot flatten the rest) or by log(1 + count); the white
// level's mark (solid) and the black level's (dotted) in the lamp colour, lit or not; each
// band's name at its top left, the axis's ends at the foot ("0" and the top value, or
// "-12 EV" and "0 EV"), and for X-Trans a note that its greens are one set. Without: the
// field and a line saying why (Absence).
RawHistogramPlot BuildRawHistogram(const RawCounts* counts, Absence absence, const PlotSettings& settings);

// What the plot reads at a raster position: the raw values its column holds, their stops
// below white, and each class's photosites there.
struct SiteCount {
    const char* name = "";
    std::uint64_t count = 0;
};
struct RawReading {
    std::uint32_t first = 0, last = 0;  // the column's raw values, both inclusive
    std::optional<double> stops;        // of its first value; nothing at or below black
    std::vector<SiteCount> counts;
};
// Nothing outside the columns, the raster's rows or without counts; a column of the stops
// axis that holds no raw value reads nothing too.
std::optional<RawReading> ReadingAt(const RawCounts* counts, RawHistogramAxis axis, int x, int y);
// "Raw 4012-4075, -2.03 EV: R 1,234 · G1 1,190 · G2 1,201 · B 988" (one value: "Raw 4012";
// at or below black: no stops).
QString ReadingText(const RawReading& reading);

}  // namespace vistrel::rawhistogram
