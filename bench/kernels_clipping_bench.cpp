// The clipping marks of a whole picture for a view the size the window fits it to,
// beside a plain memcpy of the picture's bytes as the memory system's bound; and the
// view's false colour with zebras over it, beside the clipping marks, of a photograph-like
// picture.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "kernels/clipping.h"
#include "kernels/falsecolour.h"

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

// A photograph-like 6000 x 4000 picture: smooth fields from shadow to highlight with
// sensor-like noise (sigma 6 levels) in each channel, luma in the fourth byte as the
// analysis leaves it, so that every band and the zebra level are met, as in a real picture.
const std::vector<Pixel>& Photograph() {
    static const std::vector<Pixel> pixels = [] {
        constexpr std::size_t kHeight = 4000;
        std::vector<Pixel> p(kWidth * kHeight);
        std::mt19937 random(2026);
        std::normal_distribution<float> noise(0.0f, 6.0f);
        const auto level = [](float v) { return static_cast<Pixel>(std::clamp(std::nearbyint(v), 0.0f, 255.0f)); };
        for (std::size_t y = 0; y < kHeight; ++y)
            for (std::size_t x = 0; x < kWidth; ++x) {
                const float field = 128.0f + 140.0f * std::sin(static_cast<float>(x) / 900.0f) *
                                                 std::cos(static_cast<float>(y) / 700.0f);
                const Pixel r = level(field * 1.05f + noise(random)), g = level(field + noise(random)),
                            b = level(field * 0.9f + noise(random));
                const Pixel luma = (299 * r + 587 * g + 114 * b + 500) / 1000;
                p[y * kWidth + x] = luma << 24 | r << 16 | g << 8 | b;
            }
        return p;
    }();
    return pixels;
}

// What the view shows with Tools > False Colour and Zebra on: the marks of the whole
// picture made, the false colour and the stripes put over the view.
void BM_FalseColourZebraView(benchmark::State& state) {
    const std::vector<Pixel>& source = Photograph();
    const std::size_t height = source.size() / kWidth;
    const std::vector<korvex::LumaBand> bands = {{0, 4, 0x800080},      {5, 12, 0x0000FF},    {13, 25, 0x00A0FF},
                                                 {97, 107, 0x00C000},   {138, 148, 0xFF80C0}, {230, 244, 0xFFFF00},
                                                 {245, 255, 0xFF0000}};
    const std::vector<Pixel> view(kViewWidth * kViewHeight, 0x80808080u);
    std::vector<Pixel> shown(view.size());
    for (auto _ : state) {
        const korvex::LumaMarking marking = korvex::MarkingOf(bands, 235);
        const auto marks = korvex::LumaMarks(source.data(), kWidth, height, kWidth, kViewWidth, kViewHeight, marking);
        korvex::ApplyFalseColour(view.data(), marks.data(), shown.data(), shown.size(), marking);
        korvex::ApplyZebra(shown.data(), marks.data(), kViewWidth, kViewHeight);
        benchmark::DoNotOptimize(shown.data());
    }
    SetRate(state, source.size());
}

// The clipping marks of the same picture, for comparison.
void BM_ClipMarksPhotograph(benchmark::State& state) {
    const std::vector<Pixel>& source = Photograph();
    const std::size_t height = source.size() / kWidth;
    for (auto _ : state) {
        auto marks = korvex::ClipMarks(source.data(), kWidth, height, kWidth, kViewWidth, kViewHeight);
        benchmark::DoNotOptimize(marks.data());
    }
    SetRate(state, source.size());
}

}  // namespace

BENCHMARK(BM_ClipMarks)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClipMarksMemcpy)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FalseColourZebraView)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClipMarksPhotograph)->Unit(benchmark::kMillisecond)->UseRealTime();
