#include <benchmark/benchmark.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include "memory.h"
#include "pictures.h"
#include "decoding/ColourConvert.h"
#include "decoding/Decode.h"

namespace {

// The floor: Qt's reader straight from the file, nothing else; and its peak memory.
// The peak is measured first, so that the timed decodes, like the timed loads, never
// pay for a process's first touch of its memory (seconds for a gigapixel on a virtual
// machine).
void BareDecode(benchmark::State& state, const QString& file, double pixels) {
    QImageReader::setAllocationLimit(0);
    const double peak = bench::PeakBytes([&] {
        QImageReader reader(file);
        QImage image = reader.read();
        benchmark::DoNotOptimize(image.constBits());
    });
    for (auto _ : state) {
        QImageReader reader(file);
        QImage image = reader.read();
        if (image.isNull()) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["peak_MiB"] = peak / (1024.0 * 1024.0);
    state.counters["peak_B_per_px"] = peak / pixels;
    state.SetLabel(QString("%1 bytes").arg(QFile(file).size()).toStdString());
}

void BM_BareQImageReaderJpeg24MP(benchmark::State& state) { BareDecode(state, bench::Jpeg24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderJpeg1Gpx(benchmark::State& state) { BareDecode(state, bench::Jpeg1Gpx(), 32768.0 * 32768.0); }
BENCHMARK(BM_BareQImageReaderJpeg1Gpx)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_BareQImageReaderJpeg1GpxSmooth(benchmark::State& state) {
    BareDecode(state, bench::Jpeg1GpxSmooth(), 32768.0 * 32768.0);
}
BENCHMARK(BM_BareQImageReaderJpeg1GpxSmooth)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_BareQImageReaderPng24MP(benchmark::State& state) { BareDecode(state, bench::Png24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderPng24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderBmp24MP(benchmark::State& state) { BareDecode(state, bench::Bmp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderBmp24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderTiff24MP(benchmark::State& state) { BareDecode(state, bench::Tiff24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderTiff24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderWebp24MP(benchmark::State& state) { BareDecode(state, bench::Webp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderWebp24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The program's decode: file checks, one read, the structure walk, the decode.
void BM_DecodePictureJpeg24MP(benchmark::State& state) {
    const QString& file = bench::Jpeg24MP();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePictureJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The same picture tagged Adobe RGB, converted to sRGB as it loads: the goal is within
// 1.25 x BM_DecodePictureJpeg24MP.
void BM_DecodePictureJpeg24MPAdobeRgb(benchmark::State& state) {
    const QString& file = bench::Jpeg24MPAdobeRgb();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result || !result.colourConverted) state.SkipWithError("decode failed or not converted");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePictureJpeg24MPAdobeRgb)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The conversion alone, on one thread: 24 megapixels of Adobe RGB through the fast path.
void BM_ConvertAdobeRgbToSrgb24MP(benchmark::State& state) {
    using namespace vistrel::colour;
    const auto converter = Converter::For(StandardProfile(StandardSpace::AdobeRgb));
    std::vector<std::uint32_t> pixels(std::size_t{6000} * 4000);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0xFF000000u | bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 0) << 16 |
                    bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 1) << 8 | bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 2);
    std::vector<std::uint32_t> out(pixels.size());
    for (auto _ : state) benchmark::DoNotOptimize(converter->Convert(pixels.data(), out.data(), pixels.size()));
    state.counters["ns_per_px"] = benchmark::Counter(double(pixels.size()), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert) ;
}
BENCHMARK(BM_ConvertAdobeRgbToSrgb24MP)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
