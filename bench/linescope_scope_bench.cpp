// The line scope's cost must be set by its raster and trace widths, not by the
// picture: waveform builds and line traces at 1 and 48 megapixels.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>

#include "linescope/LineTrace.h"
#include "linescope/Waveform.h"
#include "linescope/frmScope.h"

namespace {

using namespace vistrel::linescope;

// A synthetic picture, made once per size: every byte varies, so every level row is hit.
const korvex::PixelGrid& Picture(int megapixels) {
    static std::map<int, std::unique_ptr<korvex::PixelGrid>> pictures;
    auto& slot = pictures[megapixels];
    if (!slot) {
        const std::size_t width = megapixels == 1 ? 1000 : 8000;
        const std::size_t height = static_cast<std::size_t>(megapixels) * 1000000 / width;
        slot = std::make_unique<korvex::PixelGrid>(width, height);
        std::uint32_t state = 2463534242u;
        for (auto& p : slot->span()) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            p = state;
        }
    }
    return *slot;
}

void BuildWaveformBench(benchmark::State& state, Channel channel, Orientation orientation) {
    const auto& picture = Picture(static_cast<int>(state.range(0)));
    WaveformSettings settings;
    settings.channel = channel;
    settings.orientation = orientation;
    settings.scaleColor = 0x8080;
    settings.columns = DisplayColumns(channel, 420);
    WaveformRasters rasters;  // kept between builds, as the window keeps its own
    for (auto _ : state) {
        BuildWaveform(ViewOf(picture), settings, rasters);
        benchmark::DoNotOptimize(rasters.rasters.front().data());
    }
}

// The parade with a held reference's samples under it (the 1-megapixel picture's), and at
// a trace brightness: what a probe's release or an option redraws then.
void BM_WaveformParadeWithReference(benchmark::State& state) {
    const auto& picture = Picture(static_cast<int>(state.range(0)));
    WaveformSettings settings;
    settings.channel = Channel::Parade;
    settings.scaleColor = 0x8080;
    settings.columns = DisplayColumns(Channel::Parade, 420);
    settings.trace = static_cast<int>(state.range(1));
    const vistrel::WaveformSamples reference = SampleWaveform(ViewOf(Picture(1)), settings.orientation, settings.columns);
    WaveformRasters rasters;
    for (auto _ : state) {
        BuildWaveform(ViewOf(picture), settings, rasters, &reference);
        benchmark::DoNotOptimize(rasters.rasters.front().data());
    }
}
BENCHMARK(BM_WaveformParadeWithReference)->ArgNames({"MP", "trace"})->Args({48, 0})->Args({48, 4})->Unit(benchmark::kMicrosecond);

void BM_WaveformSingleHorizontal(benchmark::State& s) { BuildWaveformBench(s, Channel::Luma, Orientation::Horizontal); }
void BM_WaveformSingleVertical(benchmark::State& s) { BuildWaveformBench(s, Channel::Luma, Orientation::Vertical); }
void BM_WaveformParadeHorizontal(benchmark::State& s) { BuildWaveformBench(s, Channel::Parade, Orientation::Horizontal); }
void BM_WaveformParadeVertical(benchmark::State& s) { BuildWaveformBench(s, Channel::Parade, Orientation::Vertical); }
BENCHMARK(BM_WaveformSingleHorizontal)->Arg(1)->Arg(48)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveformSingleVertical)->Arg(1)->Arg(48)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveformParadeHorizontal)->Arg(1)->Arg(48)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WaveformParadeVertical)->Arg(1)->Arg(48)->Unit(benchmark::kMicrosecond);

void BM_TracePointsParadeVertical(benchmark::State& state) {
    const auto& picture = Picture(static_cast<int>(state.range(0)));
    TraceSettings settings;
    settings.channel = Channel::Parade;
    settings.orientation = Orientation::Vertical;
    settings.columns = DisplayColumns(Channel::Parade, 420);
    for (auto _ : state) benchmark::DoNotOptimize(TracePoints(picture, 500, 500, settings));
}
BENCHMARK(BM_TracePointsParadeVertical)->Arg(1)->Arg(48)->Unit(benchmark::kMicrosecond);

// The whole redraw the window does at every probe move: clear, points, lines.
void BM_DrawLineTraceWindow(benchmark::State& state) {
    vistrel::Model mod;
    vistrel::frmScope scope(mod);
    const auto& picture = Picture(static_cast<int>(state.range(0)));
    int row = 0;
    for (auto _ : state) {
        scope.DrawLineTrace(picture, 321, row);
        row = (row + 37) % 900;
    }
}
BENCHMARK(BM_DrawLineTraceWindow)->Arg(1)->Arg(48)->Unit(benchmark::kMicrosecond);

// The waveform as the window shows it: build and transfer into the boxes.
void BM_DrawWaveformWindow(benchmark::State& state) {
    vistrel::Model mod;
    vistrel::frmScope scope(mod);
    const auto& picture = Picture(static_cast<int>(state.range(0)));
    for (auto _ : state) scope.DrawWaveform(picture);
}
BENCHMARK(BM_DrawWaveformWindow)->Arg(1)->Arg(48)->Unit(benchmark::kMicrosecond);

}  // namespace
