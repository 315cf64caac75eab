#include <benchmark/benchmark.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include "pictures.h"
#include "platform/Decode.h"

namespace {

// The floor: Qt's reader straight from the file, nothing else.
void BM_BareQImageReaderJpeg24MP(benchmark::State& state) {
    const QString& file = bench::Jpeg24MP();
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
    const QString& file = bench::Jpeg24MP();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePictureJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
