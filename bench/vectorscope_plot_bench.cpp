// The vectorscope plot: the whole builder (counting, then drawing the 254 x 254
// cells) on chroma from a varied synthetic picture. The counting kernel alone is
// measured with the other kernels.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "kernels/korvex.h"
#include "vectorscope/Plot.h"

namespace {

constexpr std::size_t kWidth = 8000;        // 48 megapixels at 6000 rows
constexpr std::size_t kMaxRows = 6000;
constexpr std::size_t kMegapixel = 1000000;

// A picture with smooth colour ramps, a few saturated areas and fine texture,
// so that the pairs spread over much of the plot. Built once, shared by every size.
const std::vector<korvex::UvPair>& Chroma() {
    static const std::vector<korvex::UvPair> chroma = [] {
        std::vector<korvex::UvPair> pairs(kWidth * kMaxRows);
        std::vector<korvex::Pixel> row(kWidth);
        for (std::size_t y = 0; y < kMaxRows; ++y) {
            for (std::size_t x = 0; x < kWidth; ++x) {
                std::uint32_t h = static_cast<std::uint32_t>(x * 2654435761u ^ y * 40503u);
                h ^= h >> 13;
                const std::uint32_t noise = h & 0x1F;
                const std::uint32_t r = static_cast<std::uint32_t>((x * 255 / kWidth + noise) & 0xFF);
                const std::uint32_t g = static_cast<std::uint32_t>((y * 255 / kMaxRows + (h >> 8 & 0x0F)) & 0xFF);
                const std::uint32_t b = static_cast<std::uint32_t>(((x + y) / 64 * 37) & 0xFF);
                row[x] = (r << 16) | (g << 8) | b;
            }
            korvex::ConvertToYuv(row, std::span<korvex::UvPair>(pairs.data() + y * kWidth, kWidth));
        }
        return pairs;
    }();
    return chroma;
}

std::span<const korvex::UvPair> Pairs(std::int64_t megapixels) {
    const auto& all = Chroma();
    const std::size_t count = std::min(all.size(), static_cast<std::size_t>(megapixels) * kMegapixel);
    return {all.data(), count};
}

void ReportRate(benchmark::State& state, std::size_t pixels) {
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) / 1e6 * static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
}

void BM_BuildPlot(benchmark::State& state) {
    const auto pairs = Pairs(state.range(0));
    vistrel::PlotBuffer image{};
    for (auto _ : state) {
        vistrel::BuildPlot(pairs, vistrel::kZoomUnity, image);
        benchmark::DoNotOptimize(image.data());
    }
    ReportRate(state, pairs.size());
}

BENCHMARK(BM_BuildPlot)->Arg(1)->Arg(12)->Arg(48)->Unit(benchmark::kMillisecond)->UseRealTime();

// A zoom change: the plot re-binned from the picture's pair histogram, whatever its size;
// with a held reference (the first half of the picture's pairs) re-binned under it, and
// at a trace brightness.
void BM_BuildPlotFromHistogram(benchmark::State& state) {
    const auto pairs = Pairs(state.range(0));
    korvex::UvHistogram histogram;
    // The histogram of those pairs, through pixels of a colour that has each pair.
    std::vector<korvex::Pixel> colours(std::size_t{1} << 24);
    for (std::size_t k = 0; k < colours.size(); ++k) colours[k] = static_cast<korvex::Pixel>(k);
    std::vector<korvex::UvPair> colourPairs(colours.size());
    korvex::ConvertToYuv(colours, colourPairs);
    std::vector<korvex::Pixel> colourOf(korvex::UvHistogram::kCells, 0);
    for (std::size_t k = 0; k < colours.size(); ++k)
        colourOf[static_cast<std::size_t>(colourPairs[k].v - korvex::UvHistogram::kMinV) * korvex::UvHistogram::kColumns +
                 static_cast<std::size_t>(colourPairs[k].u - korvex::UvHistogram::kMinU)] = colours[k];
    std::vector<korvex::Pixel> picture(pairs.size());
    for (std::size_t k = 0; k < pairs.size(); ++k)
        picture[k] = colourOf[static_cast<std::size_t>(pairs[k].v - korvex::UvHistogram::kMinV) * korvex::UvHistogram::kColumns +
                              static_cast<std::size_t>(pairs[k].u - korvex::UvHistogram::kMinU)];
    histogram = korvex::AnalysePixels(picture);
    const korvex::UvHistogram reference =
        korvex::AnalysePixels(std::span<korvex::Pixel>(picture.data(), picture.size() / 2));
    vistrel::PlotOptions options;
    options.reference = state.range(1) != 0 ? &reference : nullptr;
    options.trace = static_cast<int>(state.range(2));
    vistrel::PlotBuffer image{};
    int zoom = vistrel::kZoomMin;
    for (auto _ : state) {
        vistrel::BuildPlot(histogram, zoom, image, options);
        benchmark::DoNotOptimize(image.data());
        zoom = zoom >= vistrel::kZoomMax ? vistrel::kZoomMin : zoom + 37;
    }
}
BENCHMARK(BM_BuildPlotFromHistogram)
    ->ArgNames({"MP", "reference", "trace"})
    ->Args({24, 0, vistrel::kTraceFlat})
    ->Args({24, 1, vistrel::kTraceFlat})
    ->Args({24, 1, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
