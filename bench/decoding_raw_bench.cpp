// A 24-megapixel camera raw file decoded by the confined decoder, against LibRaw's own
// development to 8 bits in a process of its own (bench/own_development.h), in turns:
// the ratio of each pair, and each process's peak memory. Goals: at most 1.10 x LibRaw's
// own time (the whole load through the main window is BM_LoadPictureFileDng24MP...), and
// the decoder's peak within 1.25 x LibRaw's own.
#include <benchmark/benchmark.h>

#include <chrono>
#include <optional>
#include <vector>

#include "decoding/Decode.h"
#include "decoding/worker/WorkerClient.h"
#include "memory.h"
#include "own_development.h"
#include "pictures.h"

namespace {

void BM_DecodeInWorkerDng24MPOverLibRawOwn(benchmark::State& state) {
    const QString& file = bench::Dng24MP();
    const vistrel::PictureBufferReuse reuse;
    std::vector<double> own, ours, ratios;
    double ownPeak = 0, oursPeak = 0;
    for (auto _ : state) {
        const bench::ProcessRun run = bench::LibRawOwnDevelopment(file.toStdString());
        own.push_back(run.ms);
        ownPeak = std::max(ownPeak, run.peakBytes);
        const bench::ChildrenPeak peak;
        const auto start = std::chrono::steady_clock::now();
        if (!vistrel::DecodeInWorker(file, 0xFFFFFF) || own.back() < 0) state.SkipWithError("decode failed");
        ours.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        oursPeak = std::max(oursPeak, peak.bytes());
        ratios.push_back(ours.back() / own.back());
    }
    state.counters["own_ms"] = bench::Median(own);
    state.counters["decode_ms"] = bench::Median(ours);
    state.counters["ratio"] = bench::Median(ratios);
    state.counters["own_peak_MiB"] = ownPeak / (1 << 20);
    state.counters["worker_peak_MiB"] = oursPeak / (1 << 20);
    state.counters["peak_ratio"] = ownPeak > 0 ? oursPeak / ownPeak : 0;
}
BENCHMARK(BM_DecodeInWorkerDng24MPOverLibRawOwn)->Unit(benchmark::kMillisecond)->Iterations(7)->UseRealTime();

}  // namespace
