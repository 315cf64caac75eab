// --stats against --render on the same 24-megapixel JPEG (both load it once; the
// numbers come from the load's counts, so --stats should cost no more), and a batch of
// small files in one process with the decoder kept waiting between them.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <cstdio>

#include "app/PictureLoad.h"
#include "app/Render.h"
#include "app/Stats.h"
#include "decoding/worker/WorkerClient.h"
#include "pictures.h"

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

}  // namespace
