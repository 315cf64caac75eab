#include <benchmark/benchmark.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include "platform/Decode.h"

namespace {

// A 6000 x 4000 (24 MP) JPEG at quality 90 with gradients and fine detail,
// written once per run.
const QString& Picture() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_decode_24mp.jpg";
        QImage image(6000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int detail = ((x * 7) ^ (y * 13)) & 0x3F;
                row[x] = qRgb((x * 255 / 6000 + detail) & 0xFF, (y * 255 / 4000) ^ (detail >> 1), (x + y) * 255 / 10000);
            }
        }
        QImageWriter writer(file, "jpeg");
        writer.setQuality(90);
        if (!writer.write(image)) qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

// The floor: Qt's reader straight from the file, nothing else.
void BM_BareQImageReaderJpeg24MP(benchmark::State& state) {
    const QString& file = Picture();
    for (auto _ : state) {
        QImageReader reader(file);
        QImage image = reader.read();
        if (image.isNull()) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetLabel(QString("%1 bytes").arg(QFile(file).size()).toStdString());
}
BENCHMARK(BM_BareQImageReaderJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The program's decode: file checks, one read, the structure walk, the decode.
void BM_DecodePictureJpeg24MP(benchmark::State& state) {
    const QString& file = Picture();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePictureJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
