// The clipping marks of a whole picture for a view the size the window fits it to,
// beside a plain memcpy of the picture's bytes as the memory system's bound.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "kernels/clipping.h"

namespace {

using korvex::Pixel;

constexpr std::size_t kWidth = 6000;
// The view of a 3:2 picture in the window: 501 x 334.
constexpr std::size_t kViewWidth = 501;
constexpr std::size_t kViewHeight = 334;

// Mid-levels with noise and one clipped pixel in a thousand.
std::vector<Pixel> Picture(std::size_t count) {
    std::vector<Pixel> pixels(count);
    std::mt19937 random(2026);
    for (Pixel& p : pixels) {
        p = 0x00404040u + (random() & 0x007F7F7Fu);
        if (random() % 1000 == 0) p |= 0x00FF0000u;
    }
    return pixels;
}

void SetRate(benchmark::State& state, std::size_t pixels) {
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) * static_cast<double>(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

// range(0): the picture's height in rows of 6000 pixels.
void BM_ClipMarks(benchmark::State& state) {
    const std::size_t height = static_cast<std::size_t>(state.range(0));
    const std::vector<Pixel> source = Picture(kWidth * height);
    for (auto _ : state) {
        auto marks = korvex::ClipMarks(source.data(), kWidth, height, kWidth, kViewWidth, kViewHeight);
        benchmark::DoNotOptimize(marks.data());
    }
    SetRate(state, source.size());
}

void BM_ClipMarksMemcpy(benchmark::State& state) {
    const std::size_t height = static_cast<std::size_t>(state.range(0));
    const std::vector<Pixel> source = Picture(kWidth * height);
    std::vector<Pixel> destination(source.size());
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), source.size() * sizeof(Pixel));
        benchmark::ClobberMemory();
    }
    SetRate(state, source.size());
}

}  // namespace

BENCHMARK(BM_ClipMarks)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClipMarksMemcpy)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();
