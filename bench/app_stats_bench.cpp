// --stats against --render on the same 24-megapixel JPEG (both load it once; the
// numbers come from the load's counts, so --stats should cost no more), a batch of
// small files in one process with the decoder kept waiting between them, and a whole
// `vistrel --stats` process against a whole process that only decodes the file (24
// megapixels, and a gigapixel on memory as fresh as a machine just started).

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>


#include "app/PictureLoad.h"
#include "app/Render.h"
#include "app/Stats.h"
#include "decoding/worker/WorkerClient.h"
#include "pictures.h"
#include "process.h"


namespace {

// Files in the batch, and their side: a thumbnail-sized picture each.
constexpr int kBatchFiles = 100;
constexpr int kBatchSide = 160;

void BM_StatsJpeg24MP(benchmark::State& state) {
    vistrel::KeepWorkerReady(true);
    std::FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state)
        if (vistrel::WriteStatistics({bench::Jpeg24MP()}, {}, {}, sink) != 0) state.SkipWithError("load failed");
    std::fclose(sink);
    vistrel::KeepWorkerReady(false);
}
BENCHMARK(BM_StatsJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_RenderJpeg24MP(benchmark::State& state) {
    vistrel::KeepWorkerReady(true);
    QTemporaryDir folder;
    for (auto _ : state)
        if (vistrel::RenderInstruments(folder.path(), bench::Jpeg24MP(), {}).exitCode != 0)
            state.SkipWithError("render failed");
    vistrel::KeepWorkerReady(false);
}
BENCHMARK(BM_RenderJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Seconds per file, as counter s_per_file.
void BM_StatsBatchSmallFiles(benchmark::State& state) {
    QTemporaryDir folder;
    QStringList files;
    for (int k = 0; k < kBatchFiles; ++k) {
        QImage image(kBatchSide, kBatchSide, QImage::Format_RGB32);
        for (int y = 0; y < kBatchSide; ++y)
            for (int x = 0; x < kBatchSide; ++x)
                image.setPixel(x, y,
                               qRgb(bench::Photo(x + k, y, kBatchSide, kBatchSide, 0),
                                    bench::Photo(x, y + k, kBatchSide, kBatchSide, 1),
                                    bench::Photo(x, y, kBatchSide, kBatchSide, 2)));
        files.append(QDir(folder.path()).filePath(QStringLiteral("small%1.jpg").arg(k)));
        image.save(files.back(), "JPEG");
    }
    vistrel::KeepWorkerReady(true);
    std::FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state)
        if (vistrel::WriteStatistics(files, {}, {}, sink) != 0) state.SkipWithError("load failed");
    std::fclose(sink);
    vistrel::KeepWorkerReady(false);
    state.counters["s_per_file"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBatchFiles,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StatsBatchSmallFiles)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// `vistrel --stats FILE` as a script runs it, a fresh process each time, against the
// small program that only decodes the same file with Qt's reader and exits, in turn:
// the medians of each and their ratio (stats_x), and the same for processor time, user
// and system, the decoder's included (cpu_x). The time is the --stats process's. With a
// settle time, each process starts that long after the last one ended (see
// kFreshMemorySettle), and the peaks are compared too (peak_x).
void WholeProcessStats(benchmark::State& state, const QString& picture,
                       std::chrono::seconds settle = std::chrono::seconds{0}) {
    const std::string folder = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString() + '/';
    const std::string file = QFile::encodeName(picture).toStdString();
    const std::vector<std::string> stats{folder + "vistrel", "--stats", file};
    const std::vector<std::string> bare{folder + "vistrel-bare-decode", file};
    // Once each first, so that both find their libraries and the file in memory.
    if (bench::ProcessMs(stats) < 0 || bench::ProcessMs(bare) < 0) state.SkipWithError("a program failed");
    std::vector<double> statsMs, bareMs, statsCpu, bareCpu, ratios, peaks;
    const auto run = [&](const std::vector<std::string>& words) {
        std::this_thread::sleep_for(settle);
        return bench::RunProcess(words);
    };
    for (auto _ : state) {
        const bench::ProcessRun b = run(bare);
        const bench::ProcessRun s = run(stats);
        if (b.ms < 0 || s.ms < 0) state.SkipWithError("a program failed");
        bareMs.push_back(b.ms);
        statsMs.push_back(s.ms);
        bareCpu.push_back(b.cpuMs);
        statsCpu.push_back(s.cpuMs);
        ratios.push_back(s.ms / b.ms);
        if (b.peakBytes > 0) peaks.push_back(s.peakBytes / b.peakBytes);
        state.SetIterationTime(s.ms / 1000.0);
    }
    if (settle.count() > 0) state.counters["peak_x"] = bench::Median(peaks);
    state.counters["stats_ms"] = bench::Median(statsMs);
    state.counters["bare_ms"] = bench::Median(bareMs);
    state.counters["stats_x"] = bench::Median(statsMs) / bench::Median(bareMs);
    // The median of the ratios pair by pair, which a drift of the machine's speed moves less.
    state.counters["pair_x"] = bench::Median(ratios);
    state.counters["stats_cpu_ms"] = bench::Median(statsCpu);
    state.counters["bare_cpu_ms"] = bench::Median(bareCpu);
    state.counters["cpu_x"] = bench::Median(statsCpu) / bench::Median(bareCpu);
}

// Rounds of the whole-process comparisons: the photograph's goal is read on medians of 20.
constexpr int kPhotoRounds = 20;
constexpr int kSmoothRounds = 10;

// The photograph, as a camera writes it.
void BM_WholeProcessStatsNoisyJpeg24MP(benchmark::State& state) { WholeProcessStats(state, bench::NoisyJpeg24MP()); }
BENCHMARK(BM_WholeProcessStatsNoisyJpeg24MP)->Unit(benchmark::kMillisecond)->Iterations(kPhotoRounds)->UseManualTime();

// The smooth picture, which decodes far faster, so that whatever the program adds shows.
void BM_WholeProcessStatsJpeg24MP(benchmark::State& state) { WholeProcessStats(state, bench::Jpeg24MP()); }
BENCHMARK(BM_WholeProcessStatsJpeg24MP)->Unit(benchmark::kMillisecond)->Iterations(kSmoothRounds)->UseManualTime();

// A machine just started hands out memory its host has never backed. This one gives
// memory that stays free back to its host (free page reporting, a couple of seconds
// after it is freed, in blocks of a few megabytes), so the same holds for every process
// started this long after the last large one ended: huge pages taken then cost about as
// much as on a machine just booted (1.9 s a GiB here, against 0.1-0.25 s right after a
// free).
constexpr std::chrono::seconds kFreshMemorySettle{25};
constexpr int kFreshMemoryRounds = 3;

// The gigapixel photograph on memory as fresh as a machine just started: both programs
// take every page of a 4 GiB picture, and neither finds it warm.
void BM_WholeProcessStatsJpeg1GpxFreshMemory(benchmark::State& state) {
    WholeProcessStats(state, bench::Jpeg1Gpx(), kFreshMemorySettle);
}
BENCHMARK(BM_WholeProcessStatsJpeg1GpxFreshMemory)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kFreshMemoryRounds)
    ->UseManualTime();

}  // namespace
