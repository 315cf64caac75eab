// The decoder worker: what starting one costs (start, first message, exit, for a
// picture of a few pixels), what a load waits for when one is kept ready, and the
// 24-megapixel decode through it against the same decode in the program's own process.
// Times are wall-clock: the work is elsewhere.
#include <benchmark/benchmark.h>

#include <QImage>

#include <chrono>
#include <thread>

#include "pictures.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/worker/WorkerClient.h"

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

}  // namespace
