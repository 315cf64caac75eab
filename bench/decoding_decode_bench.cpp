#include <benchmark/benchmark.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include "memory.h"
#include "picture_bytes.h"
#include "pictures.h"
#include "colour/ColourConvert.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "formats/FileHeaders.h"

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

void BM_BareQImageReaderTiffUncompressed24MP(benchmark::State& state) {
    BareDecode(state, bench::TiffUncompressed24MP(), 6000.0 * 4000.0);
}
BENCHMARK(BM_BareQImageReaderTiffUncompressed24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

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

// A 24-megapixel GIF of the photograph's red, four levels dithered by its texture,
// LZW-compressed as encoders write it, written once in /tmp.
const QString& Gif24MP() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_24mp.gif";
        if (QFile::exists(file)) return file;
        picture_bytes::GifFrame frame;
        frame.codes = picture_bytes::GifCodes::Lzw;
        for (int y = 0; y < 4000; ++y)
            for (int x = 0; x < 6000; ++x)
                frame.indices.push_back(static_cast<unsigned char>((bench::Photo(x, y, 6000, 4000, 0) + (x * 7 + y * 3) % 64) / 80));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(picture_bytes::MakeGif(6000, 4000, {frame})) < 0)
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

void BM_BareQImageReaderGif24MP(benchmark::State& state) { BareDecode(state, Gif24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderGif24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The check a GIF passes before Qt's reader decodes it: its first frame's codes followed
// to count the pixels they give.
void BM_GifFirstFrameWalk24MP(benchmark::State& state) {
    QFile file(Gif24MP());
    if (!file.open(QIODevice::ReadOnly)) state.SkipWithError("no picture");
    const QByteArray bytes = file.readAll();
    const vistrel::headers::Bytes span(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
    for (auto _ : state)
        if (!vistrel::headers::GifFirstFrameComplete(span)) state.SkipWithError("walk failed");
    state.SetLabel(QString("%1 bytes").arg(bytes.size()).toStdString());
}
BENCHMARK(BM_GifFirstFrameWalk24MP)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace
