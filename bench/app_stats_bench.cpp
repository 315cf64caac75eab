// --stats against --render on the same 24-megapixel JPEG (both load it once; the
// numbers come from the load's counts, so --stats should cost no more), a batch of
// small files in one process with the decoder kept waiting between them, and a whole
// `vistrel --stats` process against a whole process that only decodes the file.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "app/PictureLoad.h"
#include "app/Render.h"
#include "app/Stats.h"
#include "decoding/worker/WorkerClient.h"
#include "pictures.h"

extern char** environ;

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

// Milliseconds from starting the program to reaping it, its output thrown away; -1 when it
// could not be started or failed.
double WholeProcessMs(const std::vector<QByteArray>& words) {
    std::vector<char*> argv;
    for (const QByteArray& word : words) argv.push_back(const_cast<char*>(word.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const bool started = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (!started || ::waitpid(pid, &status, 0) != pid) return -1.0;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1.0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// `vistrel --stats FILE` as a script runs it, a fresh process each time, against the
// small program that only decodes the same file with Qt's reader and exits, in turn:
// the medians of each and their ratio (stats_x). The time is the --stats process's.
void BM_WholeProcessStatsJpeg24MP(benchmark::State& state) {
    const QByteArray folder = QFile::encodeName(QCoreApplication::applicationDirPath()) + '/';
    const QByteArray file = QFile::encodeName(bench::Jpeg24MP());
    const std::vector<QByteArray> stats{folder + "vistrel", "--stats", file};
    const std::vector<QByteArray> bare{folder + "vistrel-bare-decode", file};
    // Once each first, so that both find their libraries and the file in memory.
    if (WholeProcessMs(stats) < 0 || WholeProcessMs(bare) < 0) state.SkipWithError("a program failed");
    std::vector<double> statsMs, bareMs;
    for (auto _ : state) {
        bareMs.push_back(WholeProcessMs(bare));
        statsMs.push_back(WholeProcessMs(stats));
        if (bareMs.back() < 0 || statsMs.back() < 0) state.SkipWithError("a program failed");
        state.SetIterationTime(statsMs.back() / 1000.0);
    }
    state.counters["stats_ms"] = Median(statsMs);
    state.counters["bare_ms"] = Median(bareMs);
    state.counters["stats_x"] = Median(statsMs) / Median(bareMs);
}
BENCHMARK(BM_WholeProcessStatsJpeg24MP)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

}  // namespace
