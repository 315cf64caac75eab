// A 48-megapixel HEIC (8000 x 6000, as phones write them): libheif's bare decode to
// interleaved RGB in this process, against the whole load through the confined worker,
// and the worker's peak memory (its high-water mark, as the kernel reports it for
// reaped children: run this benchmark alone for the figure to be the worker's own).
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QImage>

#include <libheif/heif.h>
#include <sys/resource.h>

#include "decoding/Decode.h"
#include "decoding/worker/WorkerClient.h"
#include "heif_pictures.h"
#include "memory.h"

namespace {

const QString& Heic48MP() {
    static const QString path = [] {
        const QString file = QDir::temp().filePath("vistrel_bench_48mp.heic");
        if (QFile::exists(file)) return file;
        QImage image(8000, 6000, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) row[x] = qRgb(x * 255 / 7999, y * 255 / 5999, (x ^ y) & 0xFF);
        }
        heif_pictures::Options options;
        options.lossless = false;
        options.quality = 80;
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(heif_pictures::EncodeHeif(image, heif_pictures::Codec::Hevc, options)) <= 0)
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

void BM_BareLibheifDecodeHeic48MP(benchmark::State& state) {
    QFile file(Heic48MP());
    if (!file.open(QIODevice::ReadOnly)) state.SkipWithError("no picture");
    const QByteArray bytes = file.readAll();
    double peak = 0;
    for (auto _ : state) {
        peak = std::max(peak, bench::PeakBytes([&] {
            heif_context* context = heif_context_alloc();
            heif_context_read_from_memory_without_copy(context, bytes.constData(), std::size_t(bytes.size()), nullptr);
            heif_image_handle* handle = nullptr;
            heif_context_get_primary_image_handle(context, &handle);
            heif_image* image = nullptr;
            if (heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code != heif_error_Ok)
                state.SkipWithError("decode failed");
            heif_image_release(image);
            heif_image_handle_release(handle);
            heif_context_free(context);
        }));
    }
    state.counters["peak_MiB"] = peak / (1 << 20);
}
BENCHMARK(BM_BareLibheifDecodeHeic48MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The workers' peak is the largest of every worker this process has waited for: when
// an earlier benchmark's worker (a gigapixel's) was larger, the figure is not this
// benchmark's and is left out. Run this benchmark alone to see it.
void BM_DecodeInWorkerHeic48MP(benchmark::State& state) {
    const QString& file = Heic48MP();
    rusage before{};
    ::getrusage(RUSAGE_CHILDREN, &before);
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodeInWorker(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
    }
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    if (children.ru_maxrss > before.ru_maxrss) state.counters["worker_peak_MiB"] = double(children.ru_maxrss) / 1024;
}
BENCHMARK(BM_DecodeInWorkerHeic48MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
