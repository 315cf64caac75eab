// The decoder worker: what starting one costs (start, first message, exit, for a
// picture of a few pixels), what a load waits for when one is kept ready, and the
// 24-megapixel decode through it against the same decode in the program's own process.
// Times are wall-clock: the work is elsewhere.
#include <benchmark/benchmark.h>

#include <QImage>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "pictures.h"
#include "process.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/worker/WorkerClient.h"
#include "kernels/analysis.h"

namespace {

void BM_WorkerStartTinyPng(benchmark::State& state) {
    const QString& file = bench::TinyPng();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodeInWorker(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
    }
}
BENCHMARK(BM_WorkerStartTinyPng)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// What a load waits for when a worker is kept ready, as the program keeps one: from the
// request to the decoded picture. Loads are a user's action apart, so each starts with
// a worker waiting; the pause lets the next one get ready and is not counted.
void BM_ReadyWorkerTinyPng(benchmark::State& state) {
    const QString& file = bench::TinyPng();
    vistrel::KeepWorkerReady(true);
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        state.ResumeTiming();
        vistrel::DecodeResult result = vistrel::DecodeInWorker(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
    }
    vistrel::KeepWorkerReady(false);
}
BENCHMARK(BM_ReadyWorkerTinyPng)->Unit(benchmark::kMillisecond)->Iterations(40);

void BM_InProcessTinyPng(benchmark::State& state) {
    const QString& file = bench::TinyPng();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
    }
}
BENCHMARK(BM_InProcessTinyPng)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

void BM_DecodeInWorkerJpeg24MP(benchmark::State& state) {
    const QString& file = bench::Jpeg24MP();
    // Each decode into the last one's buffer, as the program's loads do.
    const vistrel::PictureBufferReuse reuse;
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodeInWorker(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodeInWorkerJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Tagged Adobe RGB and converted band by band in the worker: within 1.25 x the above.
void BM_DecodeInWorkerJpeg24MPAdobeRgb(benchmark::State& state) {
    const QString& file = bench::Jpeg24MPAdobeRgb();
    // Each decode into the last one's buffer, as the program's loads do.
    const vistrel::PictureBufferReuse reuse;
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodeInWorker(file, 0xFFFFFF);
        if (!result || !result.colourConverted) state.SkipWithError("decode failed or not converted");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodeInWorkerJpeg24MPAdobeRgb)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_DecodeInProcessJpeg24MP(benchmark::State& state) {
    const QString& file = bench::Jpeg24MP();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodeInProcessJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

double ThreadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

double ChildrenCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// The analysis a load runs on the photograph (bench/pictures.h) against the processor
// time of the decoder process that made its pixels, start-up included, as `vistrel FILE`
// pays both: each round decodes the file in a worker of its own (its time read when it
// is reaped), then analyses the pixels on one thread in the bands a load hands over,
// counting alone (luma, pairs and levels: count_x, the goal at most 0.25) and with the
// fitted view (with_view_x). Medians of the rounds; the time is the counting's.
void BM_AnalysisOverDecoderNoisyJpeg24MP(benchmark::State& state) {
    const QString& file = bench::NoisyJpeg24MP();
    constexpr std::size_t kBandPixels = std::size_t{256} * 1024;
    constexpr std::size_t kViewWidth = 501, kViewHeight = 334;
    std::vector<double> decoder, counting, withView;
    std::vector<korvex::Pixel> view(kViewWidth * kViewHeight);
    for (auto _ : state) {
        vistrel::WaitForStoppedWorkers();
        const double before = ChildrenCpuMs();
        vistrel::DecodeResult result = vistrel::DecodeInWorker(file, 0xFFFFFF);
        vistrel::WaitForStoppedWorkers();
        if (!result) {
            state.SkipWithError("decode failed");
            break;
        }
        decoder.push_back(ChildrenCpuMs() - before);
        const QImage& image = result.surface->image();
        const auto width = static_cast<std::size_t>(image.width()), height = static_cast<std::size_t>(image.height());
        const std::vector<korvex::Pixel> pixels(reinterpret_cast<const korvex::Pixel*>(image.constBits()),
                                                reinterpret_cast<const korvex::Pixel*>(image.constBits()) + width * height);
        const std::size_t bandRows = std::max<std::size_t>(1, kBandPixels / width);
        for (const bool fitted : {false, true}) {
            std::vector<korvex::Pixel> copy = pixels;
            const double start = ThreadCpuMs();
            korvex::BandAnalysis analysis(copy.data(), width, height, width, view.data(), fitted ? kViewWidth : 0,
                                          fitted ? kViewHeight : 0);
            for (std::size_t rows = bandRows; !analysis.finished(); rows += bandRows) analysis.AnalyseTo(rows, false);
            benchmark::DoNotOptimize(analysis.histogram().cells().data());
            (fitted ? withView : counting).push_back(ThreadCpuMs() - start);
        }
        state.SetIterationTime(counting.back() / 1000.0);
    }
    state.counters["decoder_cpu_ms"] = bench::Median(decoder);
    state.counters["count_ms"] = bench::Median(counting);
    state.counters["with_view_ms"] = bench::Median(withView);
    state.counters["count_x"] = bench::Median(counting) / bench::Median(decoder);
    state.counters["with_view_x"] = bench::Median(withView) / bench::Median(decoder);
}
BENCHMARK(BM_AnalysisOverDecoderNoisyJpeg24MP)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

}  // namespace
