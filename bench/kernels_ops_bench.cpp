// Throughput of the per-pixel kernels over whole pictures, beside a plain memcpy of the
// picture's bytes as the memory system's bound.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "kernels/analysis.h"
#include "kernels/korvex.h"
#include "kernels/region.h"

namespace {

using korvex::Pixel;
using korvex::UvPair;

constexpr std::size_t kMegapixel = 1'000'000;

// A picture with the spread of colours of a photograph: smooth ramps plus some noise.
std::vector<Pixel> Picture(std::size_t count) {
    std::vector<Pixel> pixels(count);
    std::mt19937 random(2024);
    const std::size_t width = 6000;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t x = k % width, y = k / width;
        const std::uint32_t noise = random() & 0x0F0F0F;
        const std::uint32_t r = static_cast<std::uint32_t>((x * 255 / width) & 0xF0);
        const std::uint32_t g = static_cast<std::uint32_t>((y / 16) & 0xF0);
        const std::uint32_t b = static_cast<std::uint32_t>(((x + y) / 32) & 0xF0);
        pixels[k] = ((r << 16) | (g << 8) | b) + noise;
    }
    return pixels;
}

// A photograph as a camera writes it: smooth colour fields plus sensor noise of sigma 6
// levels in each channel, so that its pairs scatter over a few thousand cells.
std::vector<Pixel> NoisyPicture(std::size_t count) {
    constexpr double kSigmaLevels = 6.0;
    std::vector<Pixel> pixels(count);
    std::mt19937 random(2026);
    std::normal_distribution<double> noise(0.0, kSigmaLevels);
    const std::size_t width = 6000;
    const std::size_t height = std::max<std::size_t>(1, count / width);
    for (std::size_t k = 0; k < count; ++k) {
        const double x = double(k % width) / double(width), y = double(k / width) / double(height);
        const double field[3] = {60.0 + 130.0 * x * (1.0 - 0.5 * y), 90.0 + 80.0 * y, 200.0 - 120.0 * x * y};
        Pixel pixel = 0;
        for (const double level : field)
            pixel = (pixel << 8) | static_cast<Pixel>(std::clamp(std::nearbyint(level + noise(random)), 0.0, 255.0));
        pixels[k] = pixel;
    }
    return pixels;
}

void SetRate(benchmark::State& state, std::size_t pixels) {
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) * static_cast<double>(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_Memcpy(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0)) * kMegapixel;
    const std::vector<Pixel> source = Picture(count);
    std::vector<Pixel> destination(count);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), count * sizeof(Pixel));
        benchmark::ClobberMemory();
    }
    SetRate(state, count);
}

void BM_ConvertToYuv(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0)) * kMegapixel;
    std::vector<Pixel> pixels = Picture(count);
    std::vector<UvPair> chroma(count);
    for (auto _ : state) {
        korvex::ConvertToYuv(pixels, chroma);
        benchmark::ClobberMemory();
    }
    SetRate(state, count);
}

// One core alone: the rate is taken over CPU time, which other work on the machine
// disturbs less than the wall clock.
void BM_ConvertToYuvOneThread(benchmark::State& state) {
    korvex::SetThreadCount(1);
    BM_ConvertToYuv(state);
    korvex::SetThreadCount(0);
}

// The same under Rec. 709 weights, whose U takes a two-step division.
void BM_ConvertToYuvRec709OneThread(benchmark::State& state) {
    korvex::SetThreadCount(1);
    const std::size_t count = static_cast<std::size_t>(state.range(0)) * kMegapixel;
    std::vector<Pixel> pixels = Picture(count);
    std::vector<UvPair> chroma(count);
    for (auto _ : state) {
        korvex::ConvertToYuv(pixels, chroma, korvex::LumaStandard::Rec709);
        benchmark::ClobberMemory();
    }
    SetRate(state, count);
    korvex::SetThreadCount(0);
}

void CountBench(benchmark::State& state, bool flat) {
    const std::size_t count = static_cast<std::size_t>(state.range(0)) * kMegapixel;
    std::vector<Pixel> pixels = flat ? std::vector<Pixel>(count, 0x00C08040u) : Picture(count);
    std::vector<UvPair> chroma(count);
    korvex::ConvertToYuv(pixels, chroma);
    std::array<std::int32_t, korvex::kUvGridCells> grid{};
    for (auto _ : state) {
        grid.fill(0);
        benchmark::DoNotOptimize(korvex::CountUvPairs(chroma, grid, 65536));
    }
    SetRate(state, count);
}

void BM_CountUvPairs(benchmark::State& state) { CountBench(state, false); }
// One colour: every pair hits the same cell, the worst case for a counting loop.
void BM_CountUvPairsFlat(benchmark::State& state) { CountBench(state, true); }

void BM_CountUvPairsOneThread(benchmark::State& state) {
    korvex::SetThreadCount(1);
    CountBench(state, state.range(1) != 0);
    korvex::SetThreadCount(0);
}

void BM_MaskPixels(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0)) * kMegapixel;
    const std::vector<Pixel> source = Picture(count);
    std::vector<Pixel> destination(count);
    for (auto _ : state) {
        korvex::MaskPixels(source.data(), destination.data(), 0xFF00FFu, count);
        benchmark::ClobberMemory();
    }
    SetRate(state, count);
}

void BM_SpreadChannel(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0)) * kMegapixel;
    const std::vector<Pixel> source = Picture(count);
    std::vector<Pixel> destination(count);
    for (auto _ : state) {
        korvex::SpreadChannel(source.data(), destination.data(), 0x00FF00u, count);
        benchmark::ClobberMemory();
    }
    SetRate(state, count);
}

// The analysis that follows the decoder on its own core (luma, pairs, level counts, view),
// band by band as a streaming load feeds it (bands of 256 Ki pixels), into a 501 x 332
// view; CPU time of one thread. Range 1: 0 ramps with mild noise, 1 smooth, 2 the
// photograph (NoisyPicture).
// Fully hidden behind decoding while it stays below the decoder's own time per band.
void BM_BandAnalysisOneThread(benchmark::State& state) {
    constexpr std::size_t kWidth = 6000;
    const std::size_t count = static_cast<std::size_t>(state.range(0)) * kMegapixel;
    const std::size_t height = count / kWidth;
    const std::size_t bandRows = 256 * 1024 / kWidth;
    std::vector<Pixel> pixels = state.range(1) == 2 ? NoisyPicture(count) : Picture(count);
    if (state.range(1) == 1)  // smooth: no noise, long runs of equal pairs
        for (std::size_t k = 0; k < count; ++k) pixels[k] &= 0xF0F0F0u;
    std::vector<Pixel> view(501 * 332);
    for (auto _ : state) {
        korvex::BandAnalysis analysis(pixels.data(), kWidth, height, kWidth, view.data(), 501, 332);
        for (std::size_t rows = bandRows; !analysis.finished(); rows += bandRows) analysis.AnalyseTo(rows, false);
        benchmark::DoNotOptimize(analysis.histogram().cells().data());
    }
    SetRate(state, count);
}

// A 6000 x 4000 picture analysed whole, as a load does (luma, pairs and level counts),
// beside the recount of a region of interest of it: the whole picture (range 100), a
// centred quarter of its area (50, half its width and height) and a 600 x 400 patch
// (10). Threads as the machine has (range 1 = 0) or one (1), whose rate is over CPU time.
// The recount's budget is at most the analysis's time for the whole picture.
constexpr std::size_t kBenchWidth = 6000;
constexpr std::size_t kBenchHeight = 4000;

void BM_AnalyseWholePicture(benchmark::State& state) {
    if (state.range(0) != 0) korvex::SetThreadCount(1);
    std::vector<Pixel> pixels = Picture(kBenchWidth * kBenchHeight);
    for (auto _ : state) {
        korvex::LevelCounts levels;
        benchmark::DoNotOptimize(korvex::AnalysePixels(pixels, korvex::LumaStandard::Rec601, levels).cells().data());
    }
    SetRate(state, pixels.size());
    korvex::SetThreadCount(0);
}

void BM_CountRegion(benchmark::State& state) {
    if (state.range(1) != 0) korvex::SetThreadCount(1);
    std::vector<Pixel> pixels = Picture(kBenchWidth * kBenchHeight);
    korvex::LevelCounts levels;
    (void)korvex::AnalysePixels(pixels, korvex::LumaStandard::Rec601, levels);  // luma in the fourth bytes
    const auto share = static_cast<std::size_t>(state.range(0));
    const std::size_t width = kBenchWidth * share / 100, height = kBenchHeight * share / 100;
    const korvex::PixelRect rect{(kBenchWidth - width) / 2, (kBenchHeight - height) / 2, width, height};
    for (auto _ : state)
        benchmark::DoNotOptimize(korvex::CountRegion(pixels.data(), kBenchWidth, rect).histogram.cells().data());
    SetRate(state, width * height);
    korvex::SetThreadCount(0);
}

// Sizes in megapixels: a small picture, a 12 MP camera, a 48 MP camera.
#define KERNEL_SIZES Arg(1)->Arg(12)->Arg(48)->Unit(benchmark::kMillisecond)->UseRealTime()

BENCHMARK(BM_Memcpy)->KERNEL_SIZES;
BENCHMARK(BM_ConvertToYuv)->KERNEL_SIZES;
BENCHMARK(BM_CountUvPairs)->KERNEL_SIZES;
BENCHMARK(BM_CountUvPairsFlat)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertToYuvOneThread)->Arg(12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToYuvRec709OneThread)->Arg(12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountUvPairsOneThread)->Args({12, 0})->Args({12, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BandAnalysisOneThread)->Args({24, 0})->Args({24, 1})->Args({24, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyseWholePicture)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AnalyseWholePicture)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountRegion)->Args({100, 0})->Args({50, 0})->Args({10, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CountRegion)->Args({100, 1})->Args({50, 1})->Args({10, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskPixels)->KERNEL_SIZES;
BENCHMARK(BM_SpreadChannel)->KERNEL_SIZES;

}  // namespace
