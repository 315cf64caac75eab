// Whole loads through the main window (24-megapixel JPEG, PNG, BMP, TIFF (LZW and
// uncompressed) and WebP, the photograph and the smooth picture, and gigapixel JPEGs): a first and a next load, each against
// Qt's bare decode of the same file in the same run, with the peak memory and the cost
// of a vectorscope zoom change on the loaded picture. A 24-megapixel DNG's load is held
// against LibRaw's own development of it instead.

#include <benchmark/benchmark.h>

#include <QDialog>
#include <QImageReader>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "app/frmMain.h"
#include "colour/ColourConvert.h"
#include "process.h"
#include "memory.h"
#include "own_development.h"
#include "pictures.h"
#include "decoding/worker/WorkerClient.h"
#include "platform/Desktop.h"
#include "desktop.h"
#include "vectorscope/frmVector.h"

namespace {

constexpr std::chrono::milliseconds kWorkerSettles{100};

// Milliseconds of one zoom change, averaged over a sweep of the bar.
double ZoomChangeMs(vistrel::frmMain& window) {
    QScrollBar* zoom = window.workspace().instrument<vistrel::frmVector>()->zoomBar();
    constexpr int kChanges = 40;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < kChanges; ++k) zoom->setValue(64 + (k * 97) % 961);
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    zoom->setValue(256);
    return spent.count() / kChanges;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Processor time so far, user and system, of this process's threads and of every child
// it has reaped: a load's own and its decoder's, once the decoder is reaped.
double ProcessorMs() {
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    rusage self{}, children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    return ms(self.ru_utime) + ms(self.ru_stime) + ms(children.ru_utime) + ms(children.ru_stime);
}

// Milliseconds of Qt's bare decode of the file: the reader and its picture, nothing else.
double BareDecodeMs(const QString& file) {
    QImageReader::setAllocationLimit(0);
    const auto start = std::chrono::steady_clock::now();
    QImageReader reader(file);
    QImage image = reader.read();
    benchmark::DoNotOptimize(image.constBits());
    const double ms = Since(start);
    return image.isNull() ? -1.0 : ms;
}

// A person's load comes long after the waiting worker has started, which happens once the
// last load is over, and has loaded its libraries (some 20 ms); and long after the
// pictures let go have given their memory back.
void Settle() {
    vistrel::WaitForReleasedPictures();
    vistrel::WaitForReadyWorker();
    std::this_thread::sleep_for(kWorkerSettles);
}

// Each round, in turn: Qt's bare decode of the file; a first load of it, into a buffer
// made afresh as `vistrel FILE` makes it (two loads of a tiny picture before it take the
// window's kept buffer away); and the next load of the same file, into the first one's
// buffer, as a user's next photograph from the same camera. The medians of the rounds and
// their ratios to the bare decode are the counters; the time is the next load's. The peak
// is measured on the window's very first load, against the first bare decode's (peak_x).
void Load(benchmark::State& state, const QString& file, double pixels) {
    // The last benchmark's pictures are given back first, so that their going neither
    // slows this one's first load nor hides its peak.
    vistrel::WaitForReleasedPictures();
    bench::QuietDesktop quiet;
    vistrel::setDesktop(&quiet);
    // As in the program, a decoder is kept started ahead of each load.
    vistrel::KeepWorkerReady(true);
    {
        vistrel::frmMain window;
        window.start();
        Settle();
        const double peak = bench::PeakBytes([&] { window.LoadFile(file); });
        state.counters["peak_MiB"] = peak / (1024.0 * 1024.0);
        state.counters["peak_B_per_px"] = peak / pixels;

        std::vector<double> bare, first, next, bareCpu, firstCpu, nextCpu;
        for (auto _ : state) {
            for (int tiny = 0; tiny < 2; ++tiny) {
                Settle();
                window.LoadFile(bench::TinyPng());
            }
            Settle();
            double cpu = ProcessorMs();
            if (bare.empty()) {
                const double barePeak = bench::PeakBytes([&] { bare.push_back(BareDecodeMs(file)); });
                state.counters["peak_x"] = peak / barePeak;
            } else {
                bare.push_back(BareDecodeMs(file));
            }
            bareCpu.push_back(ProcessorMs() - cpu);
            Settle();
            cpu = ProcessorMs();
            auto start = std::chrono::steady_clock::now();
            window.LoadFile(file);
            first.push_back(Since(start));
            vistrel::WaitForStoppedWorkers();
            firstCpu.push_back(ProcessorMs() - cpu);
            Settle();
            cpu = ProcessorMs();
            start = std::chrono::steady_clock::now();
            window.LoadFile(file);
            next.push_back(Since(start));
            vistrel::WaitForStoppedWorkers();
            nextCpu.push_back(ProcessorMs() - cpu);
            if (!window.model().loaded() || bare.back() < 0) state.SkipWithError("load failed");
            state.SetIterationTime(next.back() / 1000.0);
        }
        state.counters["bare_ms"] = bench::Median(bare);
        state.counters["first_ms"] = bench::Median(first);
        state.counters["next_ms"] = bench::Median(next);
        state.counters["first_x"] = bench::Median(first) / bench::Median(bare);
        state.counters["next_x"] = bench::Median(next) / bench::Median(bare);
        // Processor time beside: the load's threads and its decoder's (start-up included)
        // against the bare decode's, which runs in this process.
        state.counters["first_cpu_x"] = bench::Median(firstCpu) / bench::Median(bareCpu);
        state.counters["next_cpu_x"] = bench::Median(nextCpu) / bench::Median(bareCpu);
        state.counters["zoom_ms"] = ZoomChangeMs(window);
    }
    vistrel::KeepWorkerReady(false);
    vistrel::setDesktop(nullptr);
}

// Rounds of each 24-megapixel comparison: medians of ten.
constexpr int kRounds = 10;

void BM_LoadPictureFileJpeg24MP(benchmark::State& state) { Load(state, bench::Jpeg24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileJpeg24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

// The same picture tagged Adobe RGB, converted as it is decoded: within 1.25 x the above.
void BM_LoadPictureFileJpeg24MPAdobeRgb(benchmark::State& state) {
    Load(state, bench::Jpeg24MPAdobeRgb(), 6000.0 * 4000.0);
}
BENCHMARK(BM_LoadPictureFileJpeg24MPAdobeRgb)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFilePng24MP(benchmark::State& state) { Load(state, bench::Png24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFilePng24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileBmp24MP(benchmark::State& state) { Load(state, bench::Bmp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileBmp24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileTiff24MP(benchmark::State& state) { Load(state, bench::Tiff24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileTiff24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileTiffUncompressed24MP(benchmark::State& state) {
    Load(state, bench::TiffUncompressed24MP(), 6000.0 * 4000.0);
}
BENCHMARK(BM_LoadPictureFileTiffUncompressed24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileWebp24MP(benchmark::State& state) { Load(state, bench::Webp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileWebp24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

// The photograph in each format, as users open them (bench/pictures.h).
void BM_LoadPictureFileNoisyJpeg24MP(benchmark::State& state) { Load(state, bench::NoisyJpeg24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileNoisyJpeg24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

// The same tagged Adobe RGB: converted and its own samples counted on the way.
void BM_LoadPictureFileNoisyJpeg24MPAdobeRgb(benchmark::State& state) {
    Load(state, bench::NoisyJpeg24MPAdobeRgb(), 6000.0 * 4000.0);
}
BENCHMARK(BM_LoadPictureFileNoisyJpeg24MPAdobeRgb)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileNoisyPng24MP(benchmark::State& state) { Load(state, bench::NoisyPng24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileNoisyPng24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileNoisyBmp24MP(benchmark::State& state) { Load(state, bench::NoisyBmp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileNoisyBmp24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileNoisyTiff24MP(benchmark::State& state) { Load(state, bench::NoisyTiff24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileNoisyTiff24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileNoisyTiffUncompressed24MP(benchmark::State& state) {
    Load(state, bench::NoisyTiffUncompressed24MP(), 6000.0 * 4000.0);
}
BENCHMARK(BM_LoadPictureFileNoisyTiffUncompressed24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void BM_LoadPictureFileNoisyWebp24MP(benchmark::State& state) { Load(state, bench::NoisyWebp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_LoadPictureFileNoisyWebp24MP)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

// A camera raw file, developed by LibRaw in the decoder, and LibRaw's own development of
// it in a process of its own in turns with each load (bench/own_development.h): the load
// at most 1.10 x that, pair by pair.
void BM_LoadPictureFileDng24MPOverLibRawOwn(benchmark::State& state) {
    const QString& file = bench::Dng24MP();
    vistrel::WaitForReleasedPictures();
    bench::QuietDesktop quiet;
    vistrel::setDesktop(&quiet);
    vistrel::KeepWorkerReady(true);
    std::vector<double> own, loads, ratios;
    {
        vistrel::frmMain window;
        window.start();
        for (auto _ : state) {
            state.PauseTiming();
            own.push_back(bench::LibRawOwnDevelopment(file.toStdString()).ms);
            Settle();
            state.ResumeTiming();
            const auto start = std::chrono::steady_clock::now();
            window.LoadFile(file);
            loads.push_back(Since(start));
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
BENCHMARK(BM_LoadPictureFileJpeg1Gpx)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// The gigapixel photograph tagged Display P3 (its profile in an APP2 marker after JFIF's),
// written once beside it: a load that converts to sRGB, marks the pixels it clipped and
// counts the file's own colours, against Qt's bare decode of the same file.
const QString& Jpeg1GpxDisplayP3() {
    static const QString path = [] {
        const QString file = "vistrel_bench_1gpx_p3.jpg";
        if (QFile::exists(file)) return file;
        QFile plain(bench::Jpeg1Gpx());
        if (!plain.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(plain.fileName()));
        QByteArray jpeg = plain.readAll();
        const std::vector<unsigned char> profile = vistrel::colour::StandardProfile(vistrel::colour::StandardSpace::DisplayP3);
        const auto length = static_cast<int>(2 + 14 + profile.size());
        QByteArray marker("\xFF\xE2", 2);
        marker += char(length >> 8);
        marker += char(length & 0xFF);
        marker += QByteArray("ICC_PROFILE\0\x01\x01", 14);
        marker += QByteArray(reinterpret_cast<const char*>(profile.data()), qsizetype(profile.size()));
        // After JFIF's APP0, which comes first.
        qsizetype at = 2;
        if (jpeg.size() > 6 && quint8(jpeg[2]) == 0xFF && quint8(jpeg[3]) == 0xE0) at = 4 + (quint8(jpeg[4]) << 8 | quint8(jpeg[5]));
        jpeg.insert(at, marker);
        QFile tagged(file + ".part");
        if (!tagged.open(QIODevice::WriteOnly) || tagged.write(jpeg) != jpeg.size()) qFatal("cannot write %s", qPrintable(file));
        tagged.close();
        QFile::rename(file + ".part", file);
        return file;
    }();
    return path;
}

void BM_LoadPictureFileJpeg1GpxDisplayP3(benchmark::State& state) { Load(state, Jpeg1GpxDisplayP3(), 32768.0 * 32768.0); }
BENCHMARK(BM_LoadPictureFileJpeg1GpxDisplayP3)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void BM_LoadPictureFileJpeg1GpxSmooth(benchmark::State& state) {
    Load(state, bench::Jpeg1GpxSmooth(), 32768.0 * 32768.0);
}
BENCHMARK(BM_LoadPictureFileJpeg1GpxSmooth)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace
