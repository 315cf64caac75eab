// The vectorscope plot: counting the pairs (the kernel) and the whole builder
// (count + draw), on chroma from a varied synthetic picture.

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

void BM_CountUvPairs(benchmark::State& state) {
    const auto pairs = Pairs(state.range(0));
    std::vector<std::int32_t> grid(korvex::kUvGridCells);
    for (auto _ : state) {
        std::fill(grid.begin(), grid.end(), 0);
        benchmark::DoNotOptimize(korvex::CountUvPairs(
            pairs, std::span<std::int32_t, korvex::kUvGridCells>(grid.data(), korvex::kUvGridCells), 256 * 256));
    }
    ReportRate(state, pairs.size());
}

// The same on one thread: what one core gives, when the other is busy.
void BM_CountUvPairsOneThread(benchmark::State& state) {
    korvex::SetThreadCount(1);
    BM_CountUvPairs(state);
    korvex::SetThreadCount(0);
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

BENCHMARK(BM_CountUvPairs)->Arg(1)->Arg(12)->Arg(48)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CountUvPairsOneThread)->Arg(48)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildPlot)->Arg(1)->Arg(12)->Arg(48)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
