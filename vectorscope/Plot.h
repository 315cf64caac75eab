#pragma once
// The vectorscope plot as a pure builder: colour-difference pairs and a zoom in,
// a 256 x 256 image of five-level dot patterns out. No window involved.

#include <QLocale>
#include <QRect>
#include <QString>

#include <array>
#include <cstdint>
#include <span>

#include "kernels/korvex.h"
#include "model/Settings.h"

namespace vistrel {

// The plot is the count grid drawn pixel for cell: 256 x 256, top row first.
inline constexpr int kPlotSide = static_cast<int>(korvex::kUvGridSide);
inline constexpr std::size_t kPlotPixels = korvex::kUvGridCells;

// 0x00RRGGBB pixels, element y * 256 + x.
using PlotBuffer = std::array<korvex::Pixel, kPlotPixels>;

// Where a held reference's legend goes, in plot pixels: the reference's name in the
// top-left corner, which the circle leaves free up to the red target's box, the picture's
// right-aligned in the top-right corner, clear of the circle.
inline constexpr QRect kLegendArea{2, 2, 90, 13};
inline constexpr QRect kLegendRightArea{190, 2, 64, 13};

// Grey levels of the five densities, from the sparsest up.
inline constexpr korvex::Pixel kGreyPlus = 0x505050;   // 1..t1: a plus without its centre
inline constexpr korvex::Pixel kGreyLow = 0x707070;    // t1..t2: diagonal cross
inline constexpr korvex::Pixel kGreyMid = 0xA0A0A0;    // t2..t3: diagonal cross
inline constexpr korvex::Pixel kGreyHigh = 0xD0D0D0;   // t3..t4: full 3 x 3 block
inline constexpr korvex::Pixel kGreyPeak = 0xFFFFFF;   // t4..N: full 3 x 3 block

// Upper bounds of the first four density levels for a scale count N.
struct DensityThresholds {
    std::int32_t t1;
    std::int32_t t2;
    std::int32_t t3;
    std::int32_t t4;
};
DensityThresholds ComputeThresholds(std::int32_t scaleCount);

// The zoom bar's value as the zoom factor (value / 256).
float ZoomFactorOf(int zoomValue);

// Draws every inner cell of the grid (rows and columns 1 to 254) as its density
// pattern, OR-ed into the image, which the caller has cleared.
void DrawDensityCells(std::span<const std::int32_t, korvex::kUvGridCells> grid, std::int32_t scaleCount,
                      std::span<korvex::Pixel, kPlotPixels> image);

// The density display of the traces' brightness (model/Trace.h): every inner cell as
// the one pixel at its place, a grey of 255 x its intensity against the mean count of
// the inner cells that hold any, drawn into the image, which the caller has cleared.
void DrawTraceDensity(std::span<const std::int32_t, korvex::kUvGridCells> grid, int trace,
                      std::span<korvex::Pixel, kPlotPixels> image);

// What the plot shows besides the picture's pairs at kTraceFlat: a brightness, and a held
// reference's pairs, drawn where the picture's plot leaves black, in kReferenceTrace (at a
// brightness dimmed as the reference's own plot's grey is).
struct PlotOptions {
    int trace = kTraceFlat;
    const korvex::UvHistogram* reference = nullptr;
};

// The whole plot: counts the pairs at the zoom bar's value and draws the image from scratch.
void BuildPlot(std::span<const korvex::UvPair> pairs, int zoomValue, std::span<korvex::Pixel, kPlotPixels> image);
// The same plot from the histogram of the pairs, whatever the picture's size.
void BuildPlot(const korvex::UvHistogram& histogram, int zoomValue, std::span<korvex::Pixel, kPlotPixels> image,
               const PlotOptions& options = {});

// Whether the zoom is far enough from 1.0 to be printed, and its text ("0.00").
bool ShowsZoomReadout(float zoom);
QString ZoomReadout(float zoom, const QLocale& locale = QLocale());

}  // namespace vistrel
