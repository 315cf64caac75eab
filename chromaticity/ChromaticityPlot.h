#pragma once
// The chromaticity instrument's picture: the CIE 1931 xy diagram with its spectral locus,
// the sRGB / Rec. 709, Display P3 and Rec. 2020 triangles and the D65 white, and where the
// picture file's own colours land on it, brighter where more pixels do. Pure: the decoder's
// counts and the lamp in, raster and the texts to print over it out; and what the plot
// reads under the pointer.

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "colour/Signal.h"
#include "kernels/korvex.h"

namespace vistrel::chromaticity {

using korvex::Pixel;

// The diagram's counted cells shown two by two: each raster pixel covers 2 x 2 cells, so
// that the whole counted span (0 to 0.9 in x and y) is 256 pixels a side, with a black
// margin round it as the histogram has.
inline constexpr int kCellsPerPixel = 2;
inline constexpr int kPlotSize = SignalStats::kChromaCells / kCellsPerPixel;
inline constexpr int kMargin = 4;
inline constexpr int kRasterWidth = kPlotSize + 2 * kMargin;
inline constexpr int kRasterHeight = kPlotSize + 2 * kMargin;

// The dimmest density: a cell of one pixel among millions still shows on the black.
inline constexpr int kDensityFloor = 64;

struct Chromaticity {
    double x = 0;
    double y = 0;
};

// A gamut's primaries and how it is drawn.
struct Gamut {
    const char* name;
    std::array<Chromaticity, 3> primaries;  // red, green, blue
    Pixel colour;                           // 0x00RRGGBB
};
// sRGB / Rec. 709, Display P3 and Rec. 2020, as drawn (SignalStats::Gamut's order).
const std::array<Gamut, 3>& Gamuts();
inline constexpr Chromaticity kD65{0.3127, 0.3290};

// The CIE 1931 2° observer's spectral locus, 380 to 700 nm in 5 nm steps.
inline constexpr int kLocusFirstNm = 380;
inline constexpr int kLocusStepNm = 5;
const std::vector<Chromaticity>& SpectralLocus();

// The raster pixel that shows a chromaticity: the one over its counted cell (x right,
// y up from the bottom of the plot).
struct RasterPixel {
    int x = 0;
    int y = 0;
    bool operator==(const RasterPixel&) const = default;
};
RasterPixel PixelOf(Chromaticity c);

// The brightness (0..255) of a raster pixel whose cells hold `count` pixels, where the
// fullest holds `peak`: none for none; else by log(count) / log(peak) from kDensityFloor
// up to 255 at the peak. Counts run from one pixel to millions in a cell, and a linear
// scale would show the few fullest cells alone; the log shows every colour the picture
// has, and how it spreads.
int DensityLevel(std::uint64_t count, std::uint64_t peak);

// A text to print over the raster, top-left corner at (x, y); colour 0x00RRGGBB.
struct PlotLabel {
    int x = 0;
    int y = 0;
    QString text;
    Pixel color = 0;
    bool operator==(const PlotLabel&) const = default;
};

struct ChromaticityPlot {
    std::vector<Pixel> raster;  // kRasterWidth x kRasterHeight, top row first, 0x00RRGGBB
    std::vector<PlotLabel> labels;
};

// The black field; the picture's density in grey; the three triangles in their colours,
// each named by its green corner; over them the lamp-lit locus closed by the purple line
// and the D65 point, named. Without counts (none, or none with any light) the diagram
// alone.
ChromaticityPlot BuildChromaticity(const SignalStats* stats, korvex::ColorValue scaleColor);

// What the plot reads at a raster pixel: the chromaticity at its centre, and how many of
// the picture's pixels its cells hold.
struct ChromaticityReading {
    Chromaticity at;
    std::uint64_t count = 0;
    std::uint64_t total = 0;  // the picture's pixels
};
// Nothing outside the plot.
std::optional<ChromaticityReading> ReadingAt(const SignalStats* stats, int x, int y);
// "x 0.3127, y 0.3290: 1,234 px (0.52 %)"; without counts the place alone.
QString ReadingText(const ChromaticityReading& reading);

}  // namespace vistrel::chromaticity
