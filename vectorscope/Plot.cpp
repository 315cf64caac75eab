#include "vectorscope/Plot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "model/Trace.h"
#include "platform/Numbers.h"

namespace vistrel {

using korvex::Pixel;

namespace {

// CountUvPairs takes the zoom as 16.16 fixed point; the bar's unit is 1/256.
constexpr std::int32_t kZoomToFixed = 256;
// The readout appears once the zoom is more than half a hundredth away from 1.
constexpr float kReadoutTolerance = 0.005f;

constexpr std::size_t kSide = korvex::kUvGridSide;

// The sparsest level: the four direct neighbours, the centre left unset.
inline void OrPlus(Pixel* above, Pixel* row, Pixel* below, std::size_t c, Pixel grey) {
    above[c] |= grey;
    row[c - 1] |= grey;
    row[c + 1] |= grey;
    below[c] |= grey;
}

// The centre and its four diagonal neighbours.
inline void OrCross(Pixel* above, Pixel* row, Pixel* below, std::size_t c, Pixel grey) {
    above[c - 1] |= grey;
    above[c + 1] |= grey;
    row[c] |= grey;
    below[c - 1] |= grey;
    below[c + 1] |= grey;
}

// The full 3 x 3 block.
inline void OrBlock(Pixel* above, Pixel* row, Pixel* below, std::size_t c, Pixel grey) {
    for (std::size_t x = c - 1; x <= c + 1; ++x) {
        above[x] |= grey;
        row[x] |= grey;
        below[x] |= grey;
    }
}

}  // namespace

DensityThresholds ComputeThresholds(std::int32_t scaleCount) {
    const double n = scaleCount;
    return {nearestInt(0.001 * n + 1.0), nearestInt(0.02 * n + 2.0), nearestInt(0.07 * n + 3.0),
            nearestInt(0.2 * n + 4.0)};
}

float ZoomFactorOf(int zoomValue) { return static_cast<float>(zoomValue) / static_cast<float>(kZoomUnity); }

void DrawDensityCells(std::span<const std::int32_t, korvex::kUvGridCells> grid, std::int32_t scaleCount,
                      std::span<Pixel, kPlotPixels> image) {
    const DensityThresholds t = ComputeThresholds(scaleCount);
    // The outermost ring of cells is never drawn, so every pattern stays inside the image.
    for (std::size_t r = 1; r + 1 < kSide; ++r) {
        const std::int32_t* cells = grid.data() + r * kSide;
        Pixel* above = image.data() + (r - 1) * kSide;
        Pixel* row = image.data() + r * kSide;
        Pixel* below = image.data() + (r + 1) * kSide;
        for (std::size_t c = 1; c + 1 < kSide; ++c) {
            const std::int32_t k = cells[c];
            if (k <= 0 || k > scaleCount) continue;
            if (k <= t.t1)
                OrPlus(above, row, below, c, kGreyPlus);
            else if (k <= t.t3)
                OrCross(above, row, below, c, k <= t.t2 ? kGreyLow : kGreyMid);
            else
                OrBlock(above, row, below, c, k <= t.t4 ? kGreyHigh : kGreyPeak);
        }
    }
}

void BuildPlot(std::span<const korvex::UvPair> pairs, int zoomValue, std::span<Pixel, kPlotPixels> image) {
    std::vector<std::int32_t> grid(korvex::kUvGridCells, 0);
    const std::span<std::int32_t, korvex::kUvGridCells> cells(grid.data(), korvex::kUvGridCells);
    const std::int32_t scaleCount = korvex::CountUvPairs(pairs, cells, zoomValue * kZoomToFixed);
    std::fill(image.begin(), image.end(), Pixel{0});
    DrawDensityCells(cells, scaleCount, image);
}

void DrawTraceDensity(std::span<const std::int32_t, korvex::kUvGridCells> grid, int trace,
                      std::span<Pixel, kPlotPixels> image) {
    std::uint64_t total = 0;
    std::uint64_t lit = 0;
    for (std::size_t r = 1; r + 1 < kSide; ++r)
        for (std::size_t c = 1; c + 1 < kSide; ++c) {
            const std::int32_t k = grid[r * kSide + c];
            if (k <= 0) continue;
            total += static_cast<std::uint64_t>(k);
            ++lit;
        }
    if (lit == 0) return;
    const double mean = static_cast<double>(total) / static_cast<double>(lit);
    const double gain = TraceGain(trace);
    for (std::size_t r = 1; r + 1 < kSide; ++r)
        for (std::size_t c = 1; c + 1 < kSide; ++c) {
            const std::int32_t k = grid[r * kSide + c];
            if (k <= 0) continue;
            // A grey's three bytes are alike: DimColour(kGreyPeak, intensity), formed once.
            const double level = std::nearbyint(255.0 * TraceIntensity(static_cast<std::uint64_t>(k), mean, gain));
            image[r * kSide + c] = static_cast<Pixel>(level) * 0x010101u;
        }
}

namespace {

// One histogram's plot at a zoom and brightness, into a cleared image.
void PlotHistogram(const korvex::UvHistogram& histogram, int zoomValue, int trace, std::span<Pixel, kPlotPixels> image) {
    std::vector<std::int32_t> grid(korvex::kUvGridCells, 0);
    const std::span<std::int32_t, korvex::kUvGridCells> cells(grid.data(), korvex::kUvGridCells);
    const std::int32_t scaleCount = korvex::CountUvHistogram(histogram, cells, zoomValue * kZoomToFixed);
    std::fill(image.begin(), image.end(), Pixel{0});
    if (trace == kTraceFlat)
        DrawDensityCells(cells, scaleCount, image);
    else
        DrawTraceDensity(cells, trace, image);
}

}  // namespace

void BuildPlot(const korvex::UvHistogram& histogram, int zoomValue, std::span<Pixel, kPlotPixels> image,
               const PlotOptions& options) {
    PlotHistogram(histogram, zoomValue, options.trace, image);
    if (options.reference == nullptr) return;
    std::vector<Pixel> under(kPlotPixels);
    const std::span<Pixel, kPlotPixels> referenceImage(under.data(), kPlotPixels);
    PlotHistogram(*options.reference, zoomValue, options.trace, referenceImage);
    // The plot's greys have equal bytes: a reference pixel's blue byte is its grey, and
    // its colour the reference's, whole when flat, else dimmed as the grey is.
    std::array<Pixel, 256> tint{};
    for (std::size_t g = 1; g < tint.size(); ++g)
        tint[g] = options.trace == kTraceFlat ? kReferenceTrace
                                              : DimColour(kReferenceTrace, static_cast<double>(g) / 255.0);
    for (std::size_t k = 0; k < kPlotPixels; ++k)
        if (image[k] == 0) image[k] = tint[under[k] & 0xFFu];
}

bool ShowsZoomReadout(float zoom) { return std::fabs(zoom - 1.0f) > kReadoutTolerance; }

QString ZoomReadout(float zoom, const QLocale& locale) { return FormatNumber(zoom, "0.00", locale); }

}  // namespace vistrel
