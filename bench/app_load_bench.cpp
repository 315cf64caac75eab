// Whole loads through the main window (24-megapixel JPEG, PNG, BMP, TIFF, WebP and DNG, and gigapixel JPEGs), each with its
// peak memory and the cost of a vectorscope zoom change on the loaded picture. Qt's
// bare decode of the same files is among the decode benchmarks.

#include <benchmark/benchmark.h>

#include <QDialog>
#include <QScrollBar>

#include <chrono>
#include <thread>
#include <vector>

#include "app/frmMain.h"
#include "memory.h"
#include "own_development.h"
#include "pictures.h"
#include "decoding/worker/WorkerClient.h"
#include "platform/Desktop.h"
#include "vectorscope/frmVector.h"

namespace {

// Answers every modal question at once, so nothing waits on a person.
class QuietDesktop : public vistrel::Desktop {
public:
    QString programFolder() override { return "/tmp"; }
    bool fileExists(const QString&) override { return false; }
    bool openDocument(const QString&) override { return true; }
    void warningBox(QWidget*, const QString& text, const QString&) override { failures.push_back(text); }
    std::optional<QString> openFileDialog(QWidget*, const vistrel::OpenFileRequest&) override { return std::nullopt; }
    void showModal(QDialog&) override {}
    std::vector<QString> failures;
};

constexpr std::chrono::milliseconds kWorkerSettles{100};

// Milliseconds of one zoom change, averaged over a sweep of the bar.
double ZoomChangeMs(vistrel::frmMain& window) {
    QScrollBar* zoom = window.vectorWindow()->zoomBar();
    constexpr int kChanges = 40;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < kChanges; ++k) zoom->setValue(64 + (k * 97) % 961);
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    zoom->setValue(256);
    return spent.count() / kChanges;
}

// The peak is measured first, on the first load into the fresh window; the timed loads
// follow, each over the picture before it, as a user's next load would (and so into its
// buffer, as the pictures have the same size).
void Load(benchmark::State& state, const QString& file, double pixels) {
    // The last benchmark's pictures are given back first, so that their going neither
    // slows this one's first load nor hides its peak.
    vistrel::WaitForReleasedPictures();
    QuietDesktop quiet;
    vistrel::setDesktop(&quiet);
    // As in the program, a decoder is kept started ahead of each load.
    vistrel::KeepWorkerReady(true);
    {
        vistrel::frmMain window;
        window.start();
        const auto first = std::chrono::steady_clock::now();
        const double peak = bench::PeakBytes([&] { window.LoadFile(file); });
        // The session's first load makes its buffer, where the timed ones reuse the one before.
        const std::chrono::duration<double, std::milli> firstLoad = std::chrono::steady_clock::now() - first;
        state.counters["first_load_ms"] = firstLoad.count();
        state.counters["peak_MiB"] = peak / (1024.0 * 1024.0);
        state.counters["peak_B_per_px"] = peak / pixels;

        for (auto _ : state) {
            // A person's next load comes long after the waiting worker has started, which
            // happens once the last load is over, and has loaded its libraries (some 20 ms).
            state.PauseTiming();
            vistrel::WaitForReadyWorker();
            std::this_thread::sleep_for(kWorkerSettles);
            state.ResumeTiming();
            window.LoadFile(file);
            if (!window.model().loaded()) state.SkipWithError("load failed");
        }
        state.counters["zoom_ms"] = ZoomChangeMs(window);
    }
    vistrel::KeepWorkerReady(false);
    vistrel::setDesktop(nullptr);
}

void BM_LoadPictureFileJpeg24MP(benchmark::State& state) { Load(state, bench::Jpeg24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The same picture tagged Adobe RGB, converted as it is decoded: within 1.25 x the above.
void BM_LoadPictureFileJpeg24MPAdobeRgb(benchmark::State& state) {
    Load(state, bench::Jpeg24MPAdobeRgb(), 6000.0 * 4000.0);
}
BENCHMARK(BM_LoadPictureFileJpeg24MPAdobeRgb)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_LoadPictureFilePng24MP(benchmark::State& state) { Load(state, bench::Png24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFilePng24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_LoadPictureFileBmp24MP(benchmark::State& state) { Load(state, bench::Bmp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileBmp24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_LoadPictureFileTiff24MP(benchmark::State& state) { Load(state, bench::Tiff24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileTiff24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_LoadPictureFileWebp24MP(benchmark::State& state) { Load(state, bench::Webp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileWebp24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// A camera raw file, developed by LibRaw in the decoder, and LibRaw's own development of
// it in a process of its own in turns with each load (bench/own_development.h): the load
// at most 1.10 x that, pair by pair.
void BM_LoadPictureFileDng24MPOverLibRawOwn(benchmark::State& state) {
    const QString& file = bench::Dng24MP();
    vistrel::WaitForReleasedPictures();
    QuietDesktop quiet;
    vistrel::setDesktop(&quiet);
    vistrel::KeepWorkerReady(true);
    std::vector<double> own, loads, ratios;
    {
        vistrel::frmMain window;
        window.start();
        for (auto _ : state) {
            state.PauseTiming();
            own.push_back(bench::LibRawOwnDevelopmentMs(file.toStdString()));
            vistrel::WaitForReadyWorker();
            std::this_thread::sleep_for(kWorkerSettles);
            state.ResumeTiming();
            const auto start = std::chrono::steady_clock::now();
            window.LoadFile(file);
            loads.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            if (!window.model().loaded() || own.back() < 0) state.SkipWithError("load failed");
            ratios.push_back(loads.back() / own.back());
        }
    }
    state.counters["own_ms"] = bench::Median(own);
    state.counters["load_ms"] = bench::Median(loads);
    state.counters["ratio"] = bench::Median(ratios);
    vistrel::KeepWorkerReady(false);
    vistrel::setDesktop(nullptr);
}
BENCHMARK(BM_LoadPictureFileDng24MPOverLibRawOwn)->Unit(benchmark::kMillisecond)->Iterations(7)->UseRealTime();

void BM_LoadPictureFileJpeg1Gpx(benchmark::State& state) { Load(state, bench::Jpeg1Gpx(), 32768.0 * 32768.0); }
BENCHMARK(BM_LoadPictureFileJpeg1Gpx)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_LoadPictureFileJpeg1GpxSmooth(benchmark::State& state) {
    Load(state, bench::Jpeg1GpxSmooth(), 32768.0 * 32768.0);
}
BENCHMARK(BM_LoadPictureFileJpeg1GpxSmooth)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
