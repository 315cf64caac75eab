// A 24-megapixel camera raw file decoded by the confined decoder, against LibRaw's own
// development to 8 bits in a process of its own (bench/own_development.h), in turns:
// the ratio of each pair, and each process's peak memory. Goals: at most 1.10 x LibRaw's
// own time (the whole load through the main window is BM_LoadPictureFileDng24MP...), and
// the decoder's peak within 1.25 x LibRaw's own.
#include <benchmark/benchmark.h>

#include <chrono>
#include <optional>
#include <vector>

#include <sys/resource.h>

#include "decoding/Decode.h"
#include "decoding/worker/WorkerClient.h"
#include "model/RawCounts.h"
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

double ProcessCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto msOf = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return msOf(usage.ru_utime) + msOf(usage.ru_stime);
}

// The same file's load with its photosites sent to the program and counted whole (as the
// raw histogram, the raw clipping marks and --stats' raw object need them) and without,
// in turns: the ratio of each pair's wall time, and the program's own processor time for
// each (the pipe's reading and the count). Goal: at most 1.05 x the load without.
void BM_DecodeInWorkerDng24MPWithPhotositesOverWithout(benchmark::State& state) {
    const QString& file = bench::Dng24MP();
    const vistrel::PictureBufferReuse reuse;
    std::vector<double> without, with, ratios, cpuWithout, cpuWith;
    for (auto _ : state) {
        for (const bool photosites : {false, true}) {
            vistrel::DecodeWorkerOptions options;
            options.photosites = photosites;
            const double cpu = ProcessCpuMs();
            const auto start = std::chrono::steady_clock::now();
            const vistrel::DecodeResult result = vistrel::DecodeInWorker(file, 0xFFFFFF, nullptr, options);
            if (!result || (photosites && (!result.raw || !result.raw->sensor))) state.SkipWithError("decode failed");
            if (photosites && result.raw && result.raw->sensor) {
                const vistrel::RawCounts counts =
                    vistrel::CountRaw(result.raw->sensor, result.surface->width(), result.surface->height(), std::nullopt);
                benchmark::DoNotOptimize(counts.histograms[0].data());
            }
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            (photosites ? with : without).push_back(ms);
            (photosites ? cpuWith : cpuWithout).push_back(ProcessCpuMs() - cpu);
        }
        ratios.push_back(with.back() / without.back());
    }
    state.counters["without_ms"] = bench::Median(without);
    state.counters["with_ms"] = bench::Median(with);
    state.counters["ratio"] = bench::Median(ratios);
    state.counters["program_cpu_without_ms"] = bench::Median(cpuWithout);
    state.counters["program_cpu_with_ms"] = bench::Median(cpuWith);
}
BENCHMARK(BM_DecodeInWorkerDng24MPWithPhotositesOverWithout)->Unit(benchmark::kMillisecond)->Iterations(9)->UseRealTime();

}  // namespace
